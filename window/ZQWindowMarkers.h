// The marker commands of one document window: Add Marker (at the
// selection's start, or the play position when nothing is selected), Add
// Region (the selection), and the marker chosen in the ruler's lane or the
// Markers panel, which Delete removes and a rename or drag changes. Each
// change is one step of the document's history. Main thread.
#pragma once

#include "document/ZQAudioFileDocument.h"
#include "waveform/WindowState.h"

#include <cstddef>
#include <cstdint>
#include <functional>

class ZQWindowMarkers {
public:
    struct Window {
        std::function<bool()> hasViews;
        std::function<void(std::uint64_t)> locate; // puts the play position there
        std::function<void()> chosenDidChange;     // the lane and the panel show it
    };
    ZQWindowMarkers(ZQ::WindowState& state, Window window) : state_(state), window_(std::move(window)) {}
    void setDocument(platform::Ref<ZQAudioFileDocument> document) { document_ = std::move(document); }

    bool canAddMarker() const;
    bool canAddRegion() const;
    // The new item becomes the chosen one; -1 when refused.
    std::ptrdiff_t addMarker();
    std::ptrdiff_t addRegion();

    // The chosen marker's index, or -1.
    std::ptrdiff_t chosen() const { return chosen_; }
    void choose(std::ptrdiff_t index);
    bool deleteChosen();
    bool rename(std::size_t index, const std::string& name);
    // A marker to `frame`; a region's start (`edge` 0) or end (`edge` 1)
    // to `frame`, the other edge staying. The item stays chosen.
    bool move(std::size_t index, std::uint64_t frame, int edge = 0);
    // The play position to the marker, the views scrolled to it if need be.
    void goTo(std::size_t index);
    // The document's markers changed (an edit, undo, redo): a choice that
    // no longer points at a marker goes.
    void markersDidChange();

private:
    bool ready() const { return document_ && window_.hasViews && window_.hasViews(); }

    ZQ::WindowState& state_;
    Window window_;
    platform::Ref<ZQAudioFileDocument> document_;
    std::ptrdiff_t chosen_ = -1;
};
