#pragma once

#include <sys/types.h>

#ifdef _WIN32
// Windows has no user or group numbers: the doctor's uid there is a process's session.
using uid_t = unsigned long;
using gid_t = unsigned long;
#endif
