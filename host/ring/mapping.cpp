#include "host/ring/mapping.h"

#include <sys/mman.h>

namespace Vardel {

Mapping& Mapping::operator=(Mapping&& other) noexcept
{
    if (this != &other) {
        reset();
        address_ = std::exchange(other.address_, nullptr);
        bytes_ = std::exchange(other.bytes_, 0);
    }
    return *this;
}

Mapping::~Mapping() { reset(); }

void Mapping::reset()
{
    if (address_)
        ::munmap(address_, bytes_);
    address_ = nullptr;
    bytes_ = 0;
}

} // namespace Vardel
