// Shared ownership for toolkit objects that several owners hold (bitmaps, views, schemes).
#pragma once

#include <cassert>

namespace VSTGUI {

// Starts with one reference (the creator's); `forget` deletes the object when the
// last reference goes. Objects of these classes must be created with `new`.
// Used on the GUI thread only.
class CReferenceCounter {
public:
    CReferenceCounter() = default;
    CReferenceCounter(const CReferenceCounter&) = delete;
    CReferenceCounter& operator=(const CReferenceCounter&) = delete;
    virtual ~CReferenceCounter() = default;

    void remember() { ++references_; }
    void forget() {
        assert(references_ > 0);
        if (--references_ == 0) delete this;
    }
    int getNbReference() const { return references_; }

private:
    int references_ = 1;
};

}  // namespace VSTGUI
