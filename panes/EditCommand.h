#pragma once
// One step of a document's edit history: it knows how to revert and re-apply itself on the
// document's files and record, and owns the work files that only its other state names
// (deleted by its destructor). Made after the edit has been applied; owned by EditHistory.
// UI thread.

#include "engine/WavHead.h"

#include <cstdint>
#include <string>
#include <vector>

namespace ruvo {

class IEditCommand {
public:
    virtual ~IEditCommand() = default;
    // The step's name in the Edit menu: "Move note", "Threshold".
    virtual const std::string& Name() const = 0;
    // Puts doc's files and fields back as they were before the step (Undo) or after it
    // (Redo). A file error throws FileIoError; the file it was writing stays whole.
    virtual void Undo(WavHead& doc) = 0;
    virtual void Redo(WavHead& doc) = 0;
    // The work files the step keeps for its other state (never one the document names now)
    // and their bytes.
    virtual std::vector<std::string> KeptFiles() const = 0;
    virtual std::int64_t KeptBytes() const = 0;
};

}  // namespace ruvo
