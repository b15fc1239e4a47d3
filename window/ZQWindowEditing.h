// The Edit commands of one document window and what they need to know:
// copy, paste, cut, delete and duplicate of the window's selection, select
// all or none, selecting frames, from a marker or with Shift+arrows, and
// going from marker to marker; and whether each can run now. It acts on the
// window's state and the document; the window's controller holds it, takes
// its own monitor around it where its lock order asks, and tells it whether
// the views exist. Main thread.
#pragma once

#include "document/MenuItem.h"
#include "document/ZQAudioFileDocument.h"
#include "waveform/WindowState.h"

#include <cstddef>
#include <cstdint>
#include <functional>

class ZQWindowEditing {
public:
    struct Window {
        std::function<bool()> hasViews;            // the channel views are built
        std::function<double()> framesPerColumn;   // of the views as they show now
        std::function<void(std::uint64_t)> locate; // puts the play position there
        const platform::Object* owner = nullptr;   // named in the log of a failed paste
    };
    ZQWindowEditing(ZQ::WindowState& state, Window window) : state_(state), window_(std::move(window)) {}
    void setDocument(platform::Ref<ZQAudioFileDocument> document) { document_ = std::move(document); }

    bool validate(ZQAction action);
    void copy();
    void paste();
    void cut();
    void remove();
    void duplicate();
    void selectAll();
    void selectNone();
    void selectFrames(std::uint64_t first, std::uint64_t last);
    // From the marker (or region) `index` up to the next marker, the whole
    // of a region, or to the end of the file.
    void selectFromMarker(std::size_t index);
    // Shift+Left/Right: the moving edge by `steps` columns' worth of frames
    // (at least one frame); Shift+Home/End: to the start or the end.
    void extendSelection(int steps);
    void extendSelectionToEnd(bool end);
    // The play position to the previous (next) marker or region edge, in
    // view; false when there is none that way.
    bool goToMarker(bool next);
    bool hasMarkerBefore();
    bool hasMarkerAfter();

private:
    bool hasViews() const { return window_.hasViews && window_.hasViews(); }

    ZQ::WindowState& state_;
    Window window_;
    platform::Ref<ZQAudioFileDocument> document_;
};
