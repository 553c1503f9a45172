// "No update key" for programs that compile in none of their own (tests, tools). It sits alone in
// its object file of the formwell_network archive, so the linker takes it only when the program's
// own objects do not define updatePublicKey(): every formwell program does (cmake/update_key.cmake),
// and its key, or its explicit "no key", wins.
#include "package_signature.h"

const formwell::UpdateKey& formwell::updatePublicKey() {
  static const UpdateKey none{};
  return none;
}
