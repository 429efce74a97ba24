// The sample as the user replaces it from the editor.
#include "plugin/uniclient.h"
#include "state/paths.h"

namespace kf {

bool TMUniClient::loadSampleFile(const std::string& path) {
    if (sample_.loadFile(path)) return true;
    messages_.showFormattedMessage(
        "%s could not load \"%s\" as a sample: it takes 16- or 24-bit PCM WAV or AIFF files, mono or stereo.",
        kProductName, pathTitle(path).c_str());
    return false;
}

}  // namespace kf
