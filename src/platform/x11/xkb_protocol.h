#pragma once
// XCB's XKB protocol header names a structure field `explicit`, a C++ keyword; it is renamed
// for the length of the include. Include this instead of <xcb/xkb.h>.

#include <xcb/xcb.h>

#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit
