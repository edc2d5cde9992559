#pragma once

// The policy of the load step and the tick, in the window and the service alike: a step that
// fails is skipped silently and the next one runs.
template <typename Step>
void ContinueOnError(Step&& step) {
    try {
        step();
    } catch (...) {
    }
}
