#pragma once

#include <QtCore/qglobal.h>

#if defined(VARDELCORE_LIBRARY)
#define VARDELCORE_EXPORT Q_DECL_EXPORT
#else
#define VARDELCORE_EXPORT Q_DECL_IMPORT
#endif
