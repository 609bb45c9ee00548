#pragma once
// Advice to the system about memory the program is about to fill.

#include <QtGlobal>

namespace velkaro::platform {

// The size of the huge pages the advice asks for (x86-64 Linux).
inline constexpr qint64 HugePageSize = 2 << 20;

// Asks the system to back the range with huge pages where it can. For large
// buffers that are filled once, front to back, after they are reserved: the
// first touch of each 2 MiB then costs one page fault instead of 512. Only
// the whole huge pages inside the range are advised, and the advice
// allocates nothing by itself. Where the system offers no such advice (or
// has it switched off), nothing happens.
void AdviseHugePages(void* begin, qint64 size);

} // namespace velkaro::platform
