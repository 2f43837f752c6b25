#pragma once
// The type library's interfaces as widl writes them (VelmoraCOM.h, in the
// build tree), for every class of this server. windows.h defines a macro
// SendMessage that would rename IIMMessage's member, so every class sees
// the header through this one, with the macro undone (a caller of the
// system function names SendMessageA or SendMessageW).
#include <windows.h>
#undef SendMessage

#include "VelmoraCOM.h"
