// TNetSession and TNetConnection: session and connection handles of the
// pull-style internet client. A session carries the agent, the proxy
// settings, the offline flag and the status callback, and may be cancelled
// from any thread; a connection names the server and the login given for
// it. Declared by the back-end in use (curl/ or wininet/).
#pragma once

#include "NetSessionImpl.h"
