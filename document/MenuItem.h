// A menu item as the documents and the application see it when they decide
// whether it is enabled: the command it sends, or none. The menus themselves
// (titles, keys, places) belong to the application.
#pragma once

#include <optional>

enum class ZQAction {
    // Edit.
    Undo,
    Redo,
    SelectAll,
    SelectNone,
    Cut,
    Copy,
    Paste,
    Delete,
    Duplicate,
    // Export (File > Export as).
    ConvertWave16Integer,
    ConvertWave32Integer,
    ConvertWave32Float,
    ConvertAiff16Integer,
    ConvertAiff32Integer,
    ConvertFlac16,
    ConvertFlac24,
    ConvertVorbis,
    ConvertOpus,
    ConvertMp3,
    // Application.
    ShowWaveformColorPanel,
    VisitOnline,
    // Commands handled elsewhere (zoom, transport, files, windows).
    Other,
};

struct ZQMenuItem {
    std::optional<ZQAction> action; // none: an item that sends nothing
};

// Whether the action is one of the export formats.
constexpr bool isConvertAction(ZQAction a) {
    return a == ZQAction::ConvertWave16Integer || a == ZQAction::ConvertWave32Integer ||
           a == ZQAction::ConvertWave32Float || a == ZQAction::ConvertAiff16Integer ||
           a == ZQAction::ConvertAiff32Integer || a == ZQAction::ConvertFlac16 || a == ZQAction::ConvertFlac24 ||
           a == ZQAction::ConvertVorbis || a == ZQAction::ConvertOpus || a == ZQAction::ConvertMp3;
}

// Posted (on any thread, without sender) when something that menu items
// depend on may have changed: the selection, the transport state, the open
// documents. The application re-evaluates its items on the main thread.
inline constexpr const char* kCommandStateMayHaveChangedNotification = "ZQ::CommandStateMayHaveChangedNotification";
void commandStateMayHaveChanged();
