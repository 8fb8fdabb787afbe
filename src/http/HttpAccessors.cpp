// The properties and state queries of a TkvCustomHTTP, out of line: its
// state lives in the library.
#include "http/HttpData.h"

namespace kelvora {

TStrings& TkvCustomHTTP::RequestHeaders() { return d_->requestHeaders_; }
const std::string& TkvCustomHTTP::AcceptTypes() const { return d_->acceptTypes_; }
void TkvCustomHTTP::SetAcceptTypes(const std::string& V) { d_->acceptTypes_ = V; }
const std::string& TkvCustomHTTP::Agent() const { return d_->agent_; }
void TkvCustomHTTP::SetAgent(const std::string& V) { d_->agent_ = V; }
const std::string& TkvCustomHTTP::OutputFileName() const { return d_->outputFileName_; }
void TkvCustomHTTP::SetOutputFileName(const std::string& V) { d_->outputFileName_ = V; }
TkvOutputFileAttributes& TkvCustomHTTP::OutputFileAttributes() { return *d_->outputFileAttributes_; }
const std::string& TkvCustomHTTP::URL() const { return d_->url_; }
void TkvCustomHTTP::SetURL(const std::string& V) { d_->url_ = V; }
const std::string& TkvCustomHTTP::PostData() const { return d_->postData_; }
void TkvCustomHTTP::SetPostData(const std::string& V) { d_->postData_ = V; }
const std::string& TkvCustomHTTP::Referer() const { return d_->referer_; }
void TkvCustomHTTP::SetReferer(const std::string& V) { d_->referer_ = V; }
TkvCacheOptions TkvCustomHTTP::RequestCacheOptions() const { return d_->requestCacheOptions_; }
void TkvCustomHTTP::SetRequestCacheOptions(TkvCacheOptions V) { d_->requestCacheOptions_ = V; }
TkvInternetOptions TkvCustomHTTP::InternetOptions() const { return d_->internetOptions_; }
void TkvCustomHTTP::SetInternetOptions(TkvInternetOptions V) { d_->internetOptions_ = V; }
TkvHTTPRange& TkvCustomHTTP::Range() { return *d_->range_; }
TkvHTTPTimeouts& TkvCustomHTTP::Timeouts() { return *d_->timeouts_; }
int32_t TkvCustomHTTP::TransferBufferSize() const { return d_->transferBufferSize_; }
int32_t TkvCustomHTTP::ProgressInterval() const { return d_->progressInterval_; }
bool TkvCustomHTTP::UploadFromStream() const { return d_->uploadFromStream_; }
void TkvCustomHTTP::SetUploadFromStream(bool V) { d_->uploadFromStream_ = V; }
TkvHTTPRequestMethod TkvCustomHTTP::RequestMethod() const { return d_->requestMethod_; }
void TkvCustomHTTP::SetRequestMethod(TkvHTTPRequestMethod V) { d_->requestMethod_ = V; }
TkvHTTPProxy& TkvCustomHTTP::Proxy() { return *d_->proxy_; }
bool TkvCustomHTTP::AutoGoOnline() const { return d_->autoGoOnline_; }
void TkvCustomHTTP::SetAutoGoOnline(bool V) { d_->autoGoOnline_ = V; }
bool TkvCustomHTTP::WorkOffline() const { return d_->workOffline_; }
void TkvCustomHTTP::SetWorkOffline(bool V) { d_->workOffline_ = V; }
const std::string& TkvCustomHTTP::UploadHeaders() const { return d_->uploadHeaders_; }
void TkvCustomHTTP::SetUploadHeaders(const std::string& V) { d_->uploadHeaders_ = V; }
TkvCustomThread& TkvCustomHTTP::ThreadComponent() { return *d_->thread_; }
int32_t TkvCustomHTTP::StatusCode() const { return d_->statusCode_; }
int64_t TkvCustomHTTP::ContentLength() const { return d_->contentLength_; }
int64_t TkvCustomHTTP::BytesTransferred() const { return d_->bytesTransferred_; }
int64_t TkvCustomHTTP::ResumePosition() const { return d_->resumePosition_; }
int64_t TkvCustomHTTP::ResumeEnd() const { return d_->resumeEnd_; }
bool TkvCustomHTTP::RangeRequested() const { return d_->rangeRequested_; }
bool TkvCustomHTTP::RangeRefused() const { return d_->rangeRefused_; }
uint8_t TkvCustomHTTP::PercentsDone() const { return d_->percentsDone_; }
int32_t TkvCustomHTTP::ElapsedTime() const { return d_->elapsedTime_; }
int32_t TkvCustomHTTP::EstimatedTimeLeft() const { return d_->estimatedTimeLeft_; }
float TkvCustomHTTP::TransferRate() const { return d_->transferRate_; }
const std::string& TkvCustomHTTP::RawHeaders() const { return d_->rawHeaders_; }
const std::string& TkvCustomHTTP::ContentType() const { return d_->contentType_; }
const std::string& TkvCustomHTTP::ContentLanguage() const { return d_->contentLanguage_; }
const std::string& TkvCustomHTTP::ContentEncoding() const { return d_->contentEncoding_; }
const std::string& TkvCustomHTTP::Location() const { return d_->location_; }
const std::string& TkvCustomHTTP::ETag() const { return d_->eTag_; }
TDateTime TkvCustomHTTP::Date() const { return d_->date_; }
TDateTime TkvCustomHTTP::LastModified() const { return d_->lastModified_; }
TDateTime TkvCustomHTTP::Expires() const { return d_->expires_; }
void TkvCustomHTTP::SetProgressAlertSize(int64_t AlertSize) { d_->progressAlertSize_ = AlertSize; }
void TkvCustomHTTP::SetBodyObserver(TBodyObserver Observer) { d_->bodyObserver_ = std::move(Observer); }
void TkvCustomHTTP::SetOutputOpener(TOutputOpener Opener) { d_->outputOpener_ = std::move(Opener); }

}  // namespace kelvora
