#pragma once

// A test suite against one fake Yandex service: started once for the suite, emptied before each
// test, and the address of every Yandex Disk client made meanwhile.

#include "uploads/YandexDiskUploader.h"
#include "uploads/YandexFakeServer.h"

#include <gtest/gtest.h>

namespace test {

class YandexFakeTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        fake = new YandexFakeServer;
        ASSERT_TRUE(fake->start()) << fake->error.toStdString();
    }
    static void TearDownTestSuite()
    {
        delete fake;
        fake = nullptr;
    }
    void SetUp() override
    {
        ASSERT_TRUE(fake->reset());
        YandexDiskUploader::setOriginsForTesting(fake->origin(), fake->origin());
    }
    void TearDown() override { YandexDiskUploader::setOriginsForTesting({}, {}); }

    static inline YandexFakeServer* fake = nullptr;
};

} // namespace test
