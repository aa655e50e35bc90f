// A device test whose suite serves a folder of pages from a real web server
// (nginx on loopback) for the scripts and the fetching program to read.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <utility>

#include "support/device_fixture.h"
#include "support/http_server.h"
#include "support/net_servers.h"

namespace atest {

class ServedPagesTest : public qtest::DeviceTest {
 protected:
  // Makes a fresh folder tagged `tag`, writes each page (name, bytes) into
  // it and starts the server on it; called from SetUpTestSuite.
  static void ServePages(const char* tag, std::initializer_list<std::pair<const char*, std::string>> pages) {
    docroot_ = new std::string(qnet::MakeTempFolder(tag));
    for (const auto& [name, bytes] : pages) qtest::WriteHostFile(*docroot_ + "/" + name, bytes);
    nginx_ = new qtest::NginxServer;
    ASSERT_TRUE(nginx_->Start(*docroot_));
  }
  static void TearDownTestSuite() {
    delete nginx_;
    nginx_ = nullptr;
    if (docroot_) qnet::RemoveTree(*docroot_);
    delete docroot_;
    docroot_ = nullptr;
  }

  inline static std::string* docroot_ = nullptr;
  inline static qtest::NginxServer* nginx_ = nullptr;
};

}  // namespace atest
