#include "dbengine/session/login_hook.h"

namespace zq {

namespace {
TDbLoginHook* g_login_hook = nullptr;
}

TDbLoginHook* DbLoginHook() { return g_login_hook; }
void SetDbLoginHook(TDbLoginHook* hook) { g_login_hook = hook; }

}  // namespace zq
