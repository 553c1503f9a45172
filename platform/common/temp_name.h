// The names of the kit's temporary files, shared by both backends so that a folder written on one
// is cleaned the same way: ".fwtmp.<pid>.<16 hex digits>". The pid says which process owns it,
// so that only the temporaries of ended processes are removed.
#pragma once

#include <string>

namespace platform {
namespace detail {

// A temporary's name for this process id, made unique by salt.
std::string tempName(long pid, unsigned long long salt);

// The owning process id of a kit temporary: ".fwtmp.<pid>.<hex>", or "<name>.tmp.<pid>" as
// earlier versions left them beside the saved data and the hives. 0 for any other name.
long temporaryOwner(const std::string& name);

} // namespace detail
} // namespace platform
