// Wraps a filter device platform and records every request that reaches it, so tests can
// check the exact bytes the channel sends.
#pragma once

#include <mutex>
#include <vector>

#include "platform/FilterDevice.h"

struct RecordedRequest {
  uint32_t dwCode = 0;
  std::vector<uint8_t> vecIn;
  size_t ulOutLen = 0;
  FilterRequestRecord rec() const { return FilterRequestRecord::stDecode(vecIn.data()); }
};

class CRecordingPlatform : public IFilterDevicePlatform {
 public:
  explicit CRecordingPlatform(IFilterDevicePlatform& inner) : m_inner(inner) {}
  std::unique_ptr<IFilterDeviceHandle> pOpen(const std::string& strName,
                                             std::string* pstrError = nullptr) override {
    ++m_nOpens;
    auto h = m_inner.pOpen(strName, pstrError);
    if (!h) return nullptr;
    return std::make_unique<Handle>(*this, std::move(h));
  }
  std::vector<RecordedRequest> vecRequests() {
    std::lock_guard<std::mutex> l(m_mutex);
    return m_vec;
  }
  void vClear() {
    std::lock_guard<std::mutex> l(m_mutex);
    m_vec.clear();
  }
  int m_nOpens = 0;
  // Above 0: every IN answer that reaches the caller is this many bytes short, the bytes it
  // lacks left as 0xA5, as a device (or a backend) answering short would leave them.
  size_t m_ulShortBy = 0;

 private:
  struct Handle : IFilterDeviceHandle {
    Handle(CRecordingPlatform& o, std::unique_ptr<IFilterDeviceHandle> h) : owner(o), inner(std::move(h)) {}
    EFilterResult eIoControl(uint32_t dwCode, const uint8_t* pIn, size_t ulInLen, uint8_t* pOut,
                             size_t ulOutLen, size_t* pulTransferred) override {
      {
        std::lock_guard<std::mutex> l(owner.m_mutex);
        owner.m_vec.push_back({dwCode, std::vector<uint8_t>(pIn, pIn + ulInLen), ulOutLen});
      }
      EFilterResult e = inner->eIoControl(dwCode, pIn, ulInLen, pOut, ulOutLen, pulTransferred);
      const bool bIn = dwCode != VLNTFILTER0_IOCTL_VENDOR_WRITE;
      if (e == EFilterResult::kSuccess && bIn && owner.m_ulShortBy && pulTransferred && pOut) {
        const size_t ulKeep = *pulTransferred > owner.m_ulShortBy ? *pulTransferred - owner.m_ulShortBy : 0;
        for (size_t i = ulKeep; i < *pulTransferred; ++i) pOut[i] = 0xA5;
        *pulTransferred = ulKeep;
      }
      return e;
    }
    const std::string& strName() const override { return inner->strName(); }
    bool bGetDeviceIdentity(FilterDeviceIdentity& id) override { return inner->bGetDeviceIdentity(id); }
    CRecordingPlatform& owner;
    std::unique_ptr<IFilterDeviceHandle> inner;
  };
  IFilterDevicePlatform& m_inner;
  std::mutex m_mutex;
  std::vector<RecordedRequest> m_vec;
};
