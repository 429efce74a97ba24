// The sample port: the sample's display data and the file and folder operations, all on the
// user-interface thread.
#include <filesystem>

#include "plugin/editor_link.h"
#include "plugin/uniclient.h"
#include "state/file_chooser.h"
#include "state/paths.h"
#include "state/settings_startup.h"

namespace kf {

uint32_t EditorLink::sampleGeneration() const {
    return instance_.sample().generation();
}

int32_t EditorLink::sampleFrames() const {
    return instance_.sample().frames();
}

bool EditorLink::sampleIsStereo() const {
    return instance_.sample().right() != nullptr;
}

std::string EditorLink::samplePath() const {
    return sampleFrames() > 0 ? instance_.sample().path() : std::string();
}

std::string EditorLink::sampleName() const {
    const TMSampleData& sample = instance_.sample();
    if (sample.frames() == 0) return {};
    std::string name = sample.name();
    return name == TMSampleData::kEmpty ? std::string() : name;
}

std::vector<SampleExtent> EditorLink::sampleOverview(int channel, int32_t first, int32_t count,
                                                     int32_t columns) const {
    return instance_.sample().overview(channel, first, count, columns);
}

int32_t EditorLink::sampleStartMarker() const {
    return instance_.sample().startMarker();
}

int32_t EditorLink::sampleEndMarker() const {
    return instance_.sample().endMarker();
}

float EditorLink::samplePlayPosition() const {
    return instance_.sample().playbackPosition();
}

bool EditorLink::snapSampleMarker(bool start, int32_t frame) {
    return instance_.sample().snapLoopPoint(start, std::max(frame, 0));
}

bool EditorLink::loadSampleFile(const std::string& path) {
    if (!instance_.loadSampleFile(path)) return false;
    // The next file dialog starts where this file came from: samples of a project tend to
    // live together.
    const std::string folder = std::filesystem::path(path).parent_path().string();
    if (!folder.empty())
        instance_.settings().writeText(setting::kAudioFilePath, withTrailingSeparator(folder));
    return true;
}

editor::DialogRequest EditorLink::sampleFileDialog() const {
    DialogRequest request{
        platform::DialogKind::kOpen, TMFileChooser::kOpenTitle, {}, fileTypesForExtension("wav")};
    instance_.settings().readText(setting::kAudioFilePath, request.start);
    return request;
}

editor::DialogRequest EditorLink::sampleFolderDialog() const {
    DialogRequest request{platform::DialogKind::kFolder, TMFileChooser::kSampleFolderTitle, {}, {}};
    instance_.settings().readText(setting::kSamplePath, request.start);
    return request;
}

std::string EditorLink::sampleFolder() const {
    std::string folder;
    if (instance_.settings().readText(setting::kSamplePath, folder) && !folder.empty()) return folder;
    instance_.settings().readText(setting::kAudioFilePath, folder);
    return folder;
}

void EditorLink::setSampleFolder(const std::string& folder) {
    instance_.settings().writeText(setting::kSamplePath, folder);
}

}  // namespace kf
