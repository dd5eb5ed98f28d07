#include "pcf/pcf_file_impl.h"

#include "pcf/storage.h"

CPCFFileImpl::CPCFFileImpl(Headerbase* header, Bodybase* body, Component* trailer)
    : Filebase(header, body, trailer) {}

CPCFFileImpl::~CPCFFileImpl() { Teardown(); }

int CPCFFileImpl::IsReportEnabled() { return ReadReportConsent(); }

// The first tick of any report file will also take up files an earlier
// process left behind (with persistence).
int CPCFFileImpl::OnTimer(unsigned int id, int reserved) { return Filebase::OnTimer(id, reserved); }

int CPCFFileImpl::HandleBeforeSave(platform::File* /*file*/) { return 1; }

int CPCFFileImpl::PrepareWrite(platform::File* /*file*/) { return 1; }
