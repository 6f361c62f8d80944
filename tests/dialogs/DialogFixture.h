// A settings file, recorded message boxes and the registry copy in a
// temporary directory, for the dialog models.
#pragma once

#include "RecordingMessageBox.h"
#include "core/TnIni.h"
#include "framework/MessageBox.h"
#include "framework/Registry.h"

#include "TestUtil.h"

#include <gtest/gtest.h>
#include <memory>

class DialogFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        fw::RegKey::SetStorePath(dir.File("registry.ini"));
        fw::SetMessageBoxService(&boxes);
        pIni = std::make_unique<TnIni>(dir.File("TOLVAN.INI"));
        g_pIni = pIni.get(); // the questions read "Confirmation" there
    }
    void TearDown() override
    {
        g_pIni = nullptr;
        fw::SetMessageBoxService(nullptr);
        fw::RegKey::SetStorePath("");
    }
    // The boxes shown, as "caption|text".
    std::vector<std::string> Shown() const
    {
        std::vector<std::string> v;
        for (const auto& b : boxes.boxes)
            v.push_back(b.caption + "|" + b.text);
        return v;
    }

    testutil::TempDir dir;
    RecordingMessageBox boxes;
    std::unique_ptr<TnIni> pIni;
};
