#pragma once

#include "buffer/hexloader.h"
#include "buffer/hexwriter.h"

#include <QString>

class HostSession;
struct ChipInfo;

// What the Open command remembers between loads.
struct FileState {
    // Chosen from the name's ending by the last Open; every later load, the file watch's included, uses it.
    FileKind kind = FileKind::None;
    // The path last chosen in the Open dialog, whatever came of it; the file watch reloads this one.
    QString chosenPath;
    // The first 255 characters of the last opened name, as shown in the status bar.
    QString fileName;
    // fileStamp() of the last opened file; the file watch compares against it.
    QString stamp;
};

inline constexpr int fileNameLength = 255;

// The file kind the name's ending gives (fileKindOfName); any other ending keeps previous.
FileKind fileKindFromName(const QString& name, FileKind previous);

// "Open File Error ! AT89C2051 Cant Be Program 2K Active Byte Only ! Please Choose Again !" and the like.
QString sizeMessage(const ChipInfo& chip);

// The Open command once the dialog has given a path (the file watch timer is the caller's business): picks
// the file kind, loads the file for the selected chip and shows it with "Dev End :", or shows the chip's size
// message; then records the name and stamp and sets the status bar. A file that cannot be loaded at all shows
// "Open File Error !  Please Choose Again !" and changes neither the name, the stamp nor the status bar. With
// a chip index outside 0..7 nothing is loaded and nothing shown, but the name, stamp and status bar are
// recorded. Returns true when the image was loaded and shown.
bool openFile(HostSession& session, FileState& state, const QString& chosenPath);

// The file watch's reload: loads state.chosenPath in state.kind with capacity, without any message. The
// caller ignores DoesNotFit and goes on to show the dump; an Error result carries the reason.
LoadResult reloadFile(HostSession& session, const FileState& state, int capacity);

// The Save command before its dialog: false, after showing "Please Open *.Hex , *.Bin File Or Read IC Data
// Firstly
// !", when the hex view holds no line.
bool canSave(HostSession& session);

// The Save command once the dialog has given a base name and a format: appends ".hex" or ".bin" whatever the
// name ends in, and writes the hex view's lines there; a bad line or a file error is shown in a message box.
// Returns true when the file was written.
bool saveFile(HostSession& session, const QString& baseName, SaveFormat format);
