#include "inhouse/InhouseUnits.h"

#include "config/libConfigManager.h"
#include "inhouse/Streamer.h"
#include "inhouse/libAppServerUNI.h"
#include "inhouse/libCryptonize.h"
#include "inhouse/libDateThai.h"
#include "inhouse/libString.h"

namespace velkaro {

InhouseUnits::InhouseUnits()
{
    InitializeStreamer();
    InitializeLibCryptonize();
    InitializeLibDateThai();
    InitializeLibAppServerUNI();
    InitializeLibString();
    InitializeLibConfigManager();
}

InhouseUnits::~InhouseUnits()
{
    FinalizeLibConfigManager();
    FinalizeLibString();
    FinalizeLibAppServerUNI();
    FinalizeLibDateThai();
    FinalizeLibCryptonize();
    FinalizeStreamer();
}

} // namespace velkaro
