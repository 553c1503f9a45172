// The program's own resources: blocks of bytes built into the program file, found by numeric
// identifier and type name (type names compare without regard to case, as on Windows). Windows
// reads the module's .rc resources; Linux reads a table that the build links into the program,
// whose entries register themselves before main runs. The bytes live as long as the program.
// Any thread may call.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

// Finds resource (id, type) of the running program; false when it has none.
bool findResource(int id, const std::string& type, const void** data, size_t* size);

// String `id` of the program's string table (Windows: STRINGTABLE of the .rc, LoadStringW; Linux:
// the table compiled in from the same .rc, see cmake/resources.cmake). Empty when it has none.
std::u16string loadString(int id);

// Linux only: one static object of this type per resource, in the generated table that is
// linked into the program (see cmake/resources.cmake).
struct ResourceRegistration {
  ResourceRegistration(int id, const char* type, const void* begin, const void* end);
};

// Linux only: one static object per string of the compiled-in string table.
struct StringRegistration {
  StringRegistration(int id, const char16_t* text);
};

} // namespace platform
