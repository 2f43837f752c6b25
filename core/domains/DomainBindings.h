#pragma once
// Per-domain IP bindings: a domain's "bind.dat" in its folder under the
// configuration folder, with the marker address "255.255.255.255" in its
// domain-table entry while the file exists.
#include <string>
#include <string_view>

namespace core {

// Stores a domain's binding text: non-empty text goes to the domain's
// "bind.dat" (unless keepFile) and marks the table entry 255.255.255.255;
// empty text deletes the file and clears the entry. Nothing for an index
// outside the domain table. False when the binding was not stored: no safe
// folder name, "bind.dat" not written or not removed, or (storage mode 2)
// the back end missing or refusing it.
bool WriteDomainBind(int index, std::string_view text, bool keepFile);

// The domain's bindings: its "bind.dat" line joined by ";" with the table's
// own address (the marker counts as none); at most 255 characters.
std::string ReadDomainBind(int index);

// Whether ReadDomainBind(0) is non-empty; worked out once after each load.
bool UsesDomainBinding();
// Forgets that answer (each configuration load does).
void ForgetDomainBindingAnswer();

// The first domain whose binding list holds the IP text; false when none.
bool FindDomainByIP(std::string_view ip, int& index);

}  // namespace core
