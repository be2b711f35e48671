#pragma once

#include <whisper.h>

namespace vantuli {

// The one set of transcription parameters captions are recognised with:
// greedy, four threads, no text carried over between windows, non-speech
// tokens suppressed, no temperature fallback. Everything else keeps the
// library's defaults. `language` must outlive the call it is used for.
// Only code that links the speech library includes this.
inline whisper_full_params recognitionParameters(const char *language)
{
    whisper_full_params params = whisper_full_default_params(WHISPER_SAMPLING_GREEDY);
    params.n_threads = 4;
    params.translate = false;
    params.no_context = true;
    params.print_progress = false;
    params.print_realtime = false;
    params.print_timestamps = false;
    params.suppress_nst = true;
    params.temperature_inc = 0.0f;
    params.greedy.best_of = 1;
    params.language = language;
    return params;
}

} // namespace vantuli
