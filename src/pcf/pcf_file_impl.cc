#include "pcf/pcf_file_impl.h"

CPCFFileImpl::CPCFFileImpl(Headerbase* header, Bodybase* body, Component* trailer)
    : Filebase(header, body, trailer) {}

CPCFFileImpl::~CPCFFileImpl() { Teardown(); }

// Consent comes with the storage places; until then reporting counts as
// allowed (nothing is written to disk yet either way).
int CPCFFileImpl::IsReportEnabled() { return 1; }

// The first tick of any report file will also take up files an earlier
// process left behind (with persistence).
int CPCFFileImpl::OnTimer(unsigned int id, int reserved) { return Filebase::OnTimer(id, reserved); }

int CPCFFileImpl::HandleBeforeSave(platform::File* /*file*/) { return 1; }

int CPCFFileImpl::PrepareWrite(platform::File* /*file*/) { return 1; }
