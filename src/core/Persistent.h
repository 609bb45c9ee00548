#pragma once
// The root of classes whose objects can be streamed or assigned as a whole
// but are not components: they have no owner, no name and no parent.

namespace velkaro {

class TPersistent {
public:
    virtual ~TPersistent() = default;

protected:
    TPersistent() = default;
    TPersistent(const TPersistent&) = default;
    TPersistent& operator=(const TPersistent&) = default;
};

} // namespace velkaro
