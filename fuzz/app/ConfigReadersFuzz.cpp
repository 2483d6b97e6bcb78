// Feeds arbitrary bytes to both configuration readers as Update.ini and
// ProgDevice.ini; the readers must keep every table within its limits.
#include "fuzz/ScratchFolder.h"
#include "platform/Files.h"
#include "platform/PortMap.h"
#include "tests/support/UpdateFormTestView.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

namespace {

class SilentDialogs : public platform::Dialogs {
public:
    int MessageBox(const std::string&, const std::string&, unsigned) override { return 1; }
    bool OpenFile(const std::string&, const std::string&, std::string&) override { return false; }
    bool OpenDocument(const std::string&) override { return false; }
};

SilentDialogs dialogs;
std::unique_ptr<app::TUpdateForm> form;
std::string folder;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    folder = fuzzing::ScratchFolder() + "/fuzz-config-XXXXXX";
    if (::mkdtemp(folder.data()) == nullptr || !platform::SetCurrentDirectory(folder)) {
        std::abort();
    }
    // An empty port map: start-up must not take the machine's own ports.
    const std::string ports = folder + "/ports";
    if (!platform::ForceDirectories(ports)) {
        std::abort();
    }
    platform::SetPortMapDirectory(ports);
    // The scratch folder may be memory: leave nothing there.
    std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    });
    platform::WriteWholeFile("Update.ini", "Language=0\r\n");
    platform::WriteWholeFile("ProgDevice.ini", "");
    app::StartOptions options;
    options.ProgramFolder = folder;
    form = std::make_unique<app::TUpdateForm>(dialogs, options);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string content(reinterpret_cast<const char*>(data), size);
    platform::WriteWholeFile("Update.ini", content);
    platform::WriteWholeFile("ProgDevice.ini", content);
    app::TUpdateFormTestView view(*form);
    view.ClearDeviceTable();
    form->UpdateMemo->Clear();
    view.ReadUpdateIni("Update.ini");
    view.ReadProgDeviceIni("ProgDevice.ini");
    if (view.DeviceTable().size() > app::MaxDeviceRows || view.Config().BaudList.size() > 17 ||
        view.Config().BaudList.empty() || view.SessionState().StartMode < 0 ||
        view.SessionState().StartMode > 5) {
        std::abort();
    }
    return 0;
}
