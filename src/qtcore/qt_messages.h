#pragma once

// Qt's own messages go through the program's log, with their category, so they reach the
// journal or the log file as the program's lines do. Without a display the platform's warnings
// say nothing a user can act on: the program has said once that it runs without a window,
// and only Qt's errors follow.
void ForwardQtMessagesToLog(bool withoutDisplay);
