#pragma once
// The in-house units' global instances, created in the order the program
// start-up needs them and freed in reverse when the object goes.

namespace velkaro {

class InhouseUnits {
public:
    InhouseUnits(); // Convert, ObjCryptonize, DateThai, ObjAppServerUNI, ObjString, ObjConfigManager
    ~InhouseUnits(); // the same, in reverse
    InhouseUnits(const InhouseUnits&) = delete;
    InhouseUnits& operator=(const InhouseUnits&) = delete;
};

} // namespace velkaro
