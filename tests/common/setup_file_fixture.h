// A fixture that points the installer's setup-file reader at a text held in
// memory and puts the installer-wide state back afterwards.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "installer/ini_text.h"
#include "installer/install_state.h"
#include "installer/setup_file.h"

class SetupFileFixture : public ::testing::Test {
protected:
    void Use(const std::string& text) {
        text_ = text;
        ini_ = IniText{text_.data(), text_.size()};
        SetupFile = IniProfileReader(&ini_);
    }
    void TearDown() override {
        SetupFile = ProfileReader{};
        LanguageNumber = 1;
        TextCopy(InstallSection, "install");
        CeServicesDir[0] = DestinationDir[0] = SourceDir[0] = 0;
    }
    std::string text_;
    IniText ini_{};
};
