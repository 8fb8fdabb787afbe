// The fixture the transfer-component suites share: one fault server (and,
// for the suites that start one, nginx) per suite, a fresh component per test
// with every event recorded.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "http/HttpTestUtil.h"
#include "kelvora/kvHTTP.h"
#include "support/FaultServer.h"
#include "support/Nginx.h"

namespace kvtest {

class FaultServerHttpTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { server_ = new FaultServer(); }
  static void TearDownTestSuite() {
    delete server_;
    delete nginx_;
    server_ = nullptr;
    nginx_ = nullptr;
  }
  void SetUp() override {
    http_ = std::make_unique<kelvora::TkvCustomHTTP>(nullptr);
    ev_.Attach(*http_);
  }
  void TearDown() override { http_.reset(); }

  static inline FaultServer* server_ = nullptr;
  static inline Nginx* nginx_ = nullptr;  // set by suites that need one
  std::unique_ptr<kelvora::TkvCustomHTTP> http_;
  HttpEvents ev_;
};

}  // namespace kvtest
