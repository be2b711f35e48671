#include "records/DisplayMessage.h"

#include "records/L10n.h"

namespace vantuli {

QString DisplayMessage::text() const
{
    switch (kind_) {
    case Kind::Key:
        return L10n::shared().text(content_);
    case Kind::Format:
        return L10n::format(content_, {argument_});
    case Kind::Verbatim:
        break;
    }
    return content_;
}

} // namespace vantuli
