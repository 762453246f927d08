// SPDX-License-Identifier: Apache-2.0
// ZaqPrefixMgrExport.h - the one symbol export macro of the zaqprefixmgr library.
#ifndef ZAQPREFIXMGR_EXPORT_H
#define ZAQPREFIXMGR_EXPORT_H

// The build defines ZAQPREFIXMGR_BUILDING for the library itself; everything
// not marked with this macro stays hidden.
#if defined(_WIN32)
#if defined(ZAQPREFIXMGR_BUILDING)
#define ZAQ_PREFIXMGR_EXPORT __declspec(dllexport)
#else
#define ZAQ_PREFIXMGR_EXPORT __declspec(dllimport)
#endif
#else
#define ZAQ_PREFIXMGR_EXPORT __attribute__((visibility("default")))
#endif

#endif
