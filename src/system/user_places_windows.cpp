#include "system/user_places.h"

#include <cstdlib>

namespace fs = std::filesystem;

namespace {

// The wide form: the narrow one goes through the ANSI code page, which turns a user called
// Дмитрий on a Western Windows into ???????.
fs::path Variable(const wchar_t* name) {
    const wchar_t* value = ::_wgetenv(name);
    return value != nullptr && *value != L'\0' ? fs::path(value) : fs::path();
}

}  // namespace

fs::path UserConfigHome() {
    return Variable(L"APPDATA");
}

fs::path UserStateHome() {
    return Variable(L"LOCALAPPDATA");
}

fs::path UserCacheHome() {
    return Variable(L"LOCALAPPDATA");
}

fs::path UserRuntimeDir() {
    return {};
}

bool InAnotherUsersPlace(const fs::path&) {
    return false;
}
