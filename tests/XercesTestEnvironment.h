// SPDX-License-Identifier: Apache-2.0
// XercesTestEnvironment.h - the Xerces-C platform for a whole test program.
#ifndef ZAQ_TESTS_XERCES_TEST_ENVIRONMENT_H
#define ZAQ_TESTS_XERCES_TEST_ENVIRONMENT_H

#include <gtest/gtest.h>

#include <xercesc/util/PlatformUtils.hpp>

/// Initialises the platform before the first test and ends it after the last.
class XercesTestEnvironment : public ::testing::Environment {
public:
    void SetUp() override { xercesc::XMLPlatformUtils::Initialize(); }
    void TearDown() override { xercesc::XMLPlatformUtils::Terminate(); }
};

#endif
