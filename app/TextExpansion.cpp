#include "app/Messages.h"
#include "app/UpdateSession.h"

namespace app {

// Expands a copy: the stored text keeps its placeholders, so a later
// instrument or port reads correctly in every message of the run.
std::string UpdateSession::ExpandText(const std::string& text) const {
    std::string name = Session.DeviceNameText.empty()
                           ? MessageText(Msg::NameFallback, Config.Language)
                           : Session.DeviceNameText;
    // Placeholders are found in the text as given, not in inserted values.
    std::string result;
    std::size_t pos = 0;
    while (pos < text.size()) {
        if (text.compare(pos, 5, "DATEI") == 0) {
            result += Session.CurrentFile;
            pos += 5;
        } else if (text.compare(pos, 4, "NAME") == 0) {
            result += name;
            pos += 4;
        } else if (text.compare(pos, 5, "COM X") == 0) {
            result += "COM " + std::to_string(Session.PortNumber);
            pos += 5;
        } else if (text.compare(pos, 2, "\\r") == 0) {
            result += "\r\n";
            pos += 2;
        } else {
            result += text[pos++];
        }
    }
    return result;
}

} // namespace app
