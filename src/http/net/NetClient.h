// TNetClient: what one user of the internet client (one HTTP component)
// keeps across its transfers: open connections for reuse and cookies.
// Declared by the back-end in use (curl/ or wininet/, chosen by the build).
#pragma once

#include "NetClientImpl.h"
