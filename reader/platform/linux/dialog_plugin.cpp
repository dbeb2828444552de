// The Linux dialog host: the Qt 5 plugin, loaded with dlopen at the first dialog so that
// the library itself never depends on Qt. It is looked for beside the library's own file,
// then in the install library folder. Without a platform for Qt (no DISPLAY, no
// WAYLAND_DISPLAY, no QT_QPA_PLATFORM) or without the plugin no window can be shown.
#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "reader/platform/dialog_host.h"

#ifndef VANTREL_INSTALL_LIBDIR
#define VANTREL_INSTALL_LIBDIR "/usr/local/lib"
#endif

namespace vantrel::platform {

namespace {

constexpr const char* kPluginFile = "libvantrel-dialog-qt.so";

bool Set(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] != '\0';
}

void* OpenBesideLibrary() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&PluginDialogHost), &info) == 0 ||
      info.dli_fname == nullptr) {
    return nullptr;
  }
  std::string path = info.dli_fname;
  const size_t slash = path.rfind('/');
  path = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  path += kPluginFile;
  return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

DialogHost* LoadPlugin() {
  void* handle = OpenBesideLibrary();
  if (handle == nullptr) {
    handle = dlopen(VANTREL_INSTALL_LIBDIR "/libvantrel-dialog-qt.so", RTLD_NOW | RTLD_LOCAL);
  }
  if (handle == nullptr) return nullptr;
  // The plugin stays loaded for the life of the process: Qt cannot be unloaded safely.
  auto entry = reinterpret_cast<DialogPluginEntry>(dlsym(handle, kDialogPluginEntry));
  return entry != nullptr ? entry(kDialogHostAbi) : nullptr;
}

class PluginHost final : public DialogHost {
 public:
  bool Run(int code_page, DialogClient& client) override {
    if (!Set("DISPLAY") && !Set("WAYLAND_DISPLAY") && !Set("QT_QPA_PLATFORM")) return false;
    std::call_once(loaded_, [this] { plugin_ = LoadPlugin(); });
    return plugin_ != nullptr && plugin_->Run(code_page, client);
  }

 private:
  std::once_flag loaded_;
  DialogHost* plugin_ = nullptr;
};

}  // namespace

DialogHost& PluginDialogHost() {
  static PluginHost host;
  return host;
}

}  // namespace vantrel::platform
