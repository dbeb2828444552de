// The plugin's only export: its dialog host, for the library's loader.
#include "dialog-qt/qt_dialog_host.h"

extern "C" __attribute__((visibility("default"))) vantrel::platform::DialogHost*
VantrelDialogHost(int abi) {
  return abi == vantrel::platform::kDialogHostAbi ? &vantrel::dialog_qt::QtDialogHost()
                                                  : nullptr;
}
