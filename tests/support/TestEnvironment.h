#pragma once

#include <QtGlobal>

#include <clocale>

namespace vantuli::test {

// Every test process runs offscreen, without a sound device, on the source
// tree's resources and in a UTF-8 C locale, whether ctest or a person starts
// it; a variable already set wins, so one run can still choose otherwise.
inline void useTestEnvironment()
{
    const struct {
        const char *name;
        const char *value;
    } defaults[] = {
        {"QT_QPA_PLATFORM", "offscreen"},
        {"VANTULI_AUDIO", "null"},
        {"VANTULI_RESOURCES", VANTULI_RESOURCE_DIR},
        {"LC_ALL", "C.UTF-8"},
    };
    for (const auto &variable : defaults) {
        if (qEnvironmentVariableIsEmpty(variable.name))
            qputenv(variable.name, variable.value);
    }
    std::setlocale(LC_ALL, "");
}

} // namespace vantuli::test
