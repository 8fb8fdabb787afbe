// TNetRequest: one HTTP request of the pull-style internet client. Send
// returns when the headers of the final response are in, Read pulls the body
// block by block (0 bytes at its end), SendEx/Write/End upload a body in
// blocks, QueryInfo reads header values by info level (NetTypes.h).
// Declared by the back-end in use (curl/ or wininet/); both behave alike
// and raise the same status notifications.
#pragma once

#include "NetRequestImpl.h"
