#include "core/ErrorDisplay.h"

#include "core/Exceptions.h"
#include "platform/MessageDisplay.h"

namespace velkaro {

QString ErrorMessage(const std::exception& error)
{
    if (const auto* known = dynamic_cast<const Exception*>(&error))
        return known->Message();
    return QString::fromUtf8(error.what());
}

void ShowErrorBox(const std::exception& error)
{
    platform::Messages().Show(
        platform::ApplicationTitle(), ErrorMessage(error), platform::MessageIcon::Stop, platform::MessageButtons::Ok);
}

} // namespace velkaro
