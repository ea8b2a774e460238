// The user's choices for the library's files, kept as a JSON object in the
// file video_control.json of the folder LocalService in the user's
// configuration folder (QStandardPaths::GenericConfigLocation; on Linux
// $XDG_CONFIG_HOME, ~/.config by default).
//
// The file is read at every use, so a change takes effect at once and
// survives a restart; it is replaced as a whole (QSaveFile), so it is never
// half written. A value in it that the library cannot use counts as absent,
// a number out of its range too, a folder outside its media folder (MediaFolders.h) too: the folder
// settings name sub-folders of the media folders, never other places.
//
// GUI thread only.
#ifndef VIDEO_CONTROL_VCSETTINGS_H
#define VIDEO_CONTROL_VCSETTINGS_H

#include <QString>

namespace vc {

enum class Setting {
    SnapshotPath,    // "snapshotPath": folder of snapshots (the snapshots media folder)
    SnapshotFormat,  // "snapshotFormat": png or jpg (png)
    RecordPath,      // "recordPath": folder of recordings (the recordings media folder)
    RecordFormat,    // "recordFormat": mp4 or mkv (mp4)
    DownloadPath,    // "downloadPath": folder of downloads (the downloads media folder)
    // "preRecordSeconds": seconds of a live stream kept for the start of a
    // recording, 0 to 30 (5; 0: none); read when a stream starts
    PreRecordSeconds,
};

// The stored value, or its default.
QString setting(Setting eSetting);
// The same of a whole-number setting.
int settingNumber(Setting eSetting);

}  // namespace vc

#endif  // VIDEO_CONTROL_VCSETTINGS_H
