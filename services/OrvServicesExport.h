// SPDX-License-Identifier: Apache-2.0
// OrvServicesExport.h - symbol export macro of the string and common services.
#ifndef ZAQPREFIXMGR_ORV_SERVICES_EXPORT_H
#define ZAQPREFIXMGR_ORV_SERVICES_EXPORT_H

#if defined(_WIN32)
#if defined(ZAQSERVICES_BUILDING)
#define ORV_SERVICES_EXPORT __declspec(dllexport)
#else
#define ORV_SERVICES_EXPORT __declspec(dllimport)
#endif
#else
#define ORV_SERVICES_EXPORT __attribute__((visibility("default")))
#endif

#endif
