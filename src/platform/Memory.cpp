#include "platform/Memory.h"

#ifdef __linux__
#include <sys/mman.h>
#endif

#include <cstdint>

namespace velkaro::platform {

void AdviseHugePages(void* begin, qint64 size)
{
#ifdef __linux__
    if (begin == nullptr || size < HugePageSize)
        return;
    const auto start = reinterpret_cast<std::uintptr_t>(begin);
    const std::uintptr_t first = (start + HugePageSize - 1) & ~std::uintptr_t(HugePageSize - 1);
    const std::uintptr_t end = (start + std::uintptr_t(size)) & ~std::uintptr_t(HugePageSize - 1);
    if (end > first)
        ::madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
#else
    Q_UNUSED(begin);
    Q_UNUSED(size);
#endif
}

} // namespace velkaro::platform
