// What happens with every response: the content check at the headers, writing the body,
// and the completion handler that stores, analyses, retries, redirects or drops a record
// and counts it in its Project's statistics.
#include <chrono>
#include <cstdio>

#include "engine/project_cookies.h"
#include "engine/admission.h"
#include "engine/crawl_limits.h"
#include "engine/document_type.h"
#include "engine/failed_addresses.h"
#include "engine/credential_scope.h"
#include "engine/get_rec.h"
#include "engine/local_path.h"
#include "engine/local_scope.h"
#include "engine/normalise.h"
#include "engine/page_rendering.h"
#include "engine/queue_manager.h"
#include "engine/retry_wait.h"
#include "engine/scratch_files.h"
#include "engine/stored_files.h"
#include "net/http_client.h"
#include "store/file_category.h"
#include "store/project.h"

namespace qm::engine {

namespace {

// How often a request answered with 400 is sent at the most in one run.
constexpr int kBadRequestAttempts = 3;

bool Contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

void DeleteTemp(DownloadRecord& record) {
    RemoveFile(record.Temp);
    record.Temp.clear();
}

// Whether a length the category's size selection would have judged at the header is outside
// it. Only for answers whose header could not tell the stored size (chunked or compressed),
// so that they are kept or left exactly as an answer with a length would be.
bool OutsideSelectedSizes(const DownloadRecord& record, const std::string& headers, std::int64_t size) {
    if (!record.Category || !record.Category->Flag(store::CategoryFlag::SelectedSizesOnly) || size <= 0) return false;
    const bool sizeHidden = !HeaderValue(headers, "content-encoding:").empty() ||
                            Contains(HeaderValue(headers, "transfer-encoding:"), "chunked");
    if (!sizeHidden) return false;
    const store::FileCategory& cat = *record.Category;
    return (cat.Flag(store::CategoryFlag::MinSizeOn) && size < static_cast<std::int64_t>(cat.MinSize) * 1024) ||
           (cat.Flag(store::CategoryFlag::MaxSizeOn) && size > static_cast<std::int64_t>(cat.MaxSize) * 1024);
}

// Fills the record's content type from the description of its stored file, when there is one.
void RecordedContentType(DownloadRecord& record) {
    std::string type, lastModified;
    if (LookupFileDescription(record.Path, record.RFile, type, lastModified)) record.ContentType = type;
}

}  // namespace

void QueueManager::OnHeader(DownloadRecord& record, net::DownloadConnection& conn) {
    record.ContentType = HeaderValue(conn.Header, "content-type:");
    // Every answer may set cookies, redirects and refusals too.
    if (record.Project) ProjectCookies(record.Project->IID).SetFromResponse(record.URL, conn.Header, CookieClock());
    if (conn.StatusCode != 200 || !record.Category) return;
    const store::FileCategory& cat = *record.Category;
    std::int64_t length = conn.ContentLength;
    if (length > 0 && cat.Flag(store::CategoryFlag::SelectedSizesOnly)) {
        if ((cat.Flag(store::CategoryFlag::MinSizeOn) && length < static_cast<std::int64_t>(cat.MinSize) * 1024) ||
            (cat.Flag(store::CategoryFlag::MaxSizeOn) && length > static_cast<std::int64_t>(cat.MaxSize) * 1024)) {
            conn.Abort();
            return;
        }
    }
    if (cat.Flag(store::CategoryFlag::Excluded) && !Contains(record.ContentType, "text/html")) conn.Abort();
}

void QueueManager::OnData(DownloadRecord& record, const char* block, std::size_t count) {
    if (count > 0 && !record.BodyFileMade) OpenBodyFile(record);
    if (record.DataFile && count > 0) std::fwrite(block, 1, count, record.DataFile);
    if (!captures_.empty()) CaptureBody(record, block, count);
    totalReceived_ += static_cast<std::int64_t>(count);
    if (store::Project* p = record.Project) {
        p->ReceivedBytes += static_cast<std::int64_t>(count);
        if (p->OnProjectChange)
            p->OnProjectChange(*p, store::ProjectChange::BytesReceived, static_cast<std::int64_t>(count));
    }
}

void QueueManager::SweepScratchOnce(const std::string& directory) {
    if (directory.empty() || !swept_.insert(directory).second) return;
    RemoveStaleScratchFiles(directory);
}

void QueueManager::FinishRecord(std::unique_ptr<DownloadRecord> record) {
    if (!record) return;
    DeleteTemp(*record);
    if (store::Project* p = record->Project) {
        if (p->ProcessingCount > 0) --p->ProcessingCount;
        NotifyIfFinished(*p);
    }
}

void QueueManager::RetryRecord(std::unique_ptr<DownloadRecord> record) {
    store::Project* p = record->Project;
    AddRecord(std::move(record), false, true);
    if (p) {
        if (p->ProcessingCount > 0) --p->ProcessingCount;
        NotifyIfFinished(*p);
    }
}

void QueueManager::RetryAfterFailure(std::unique_ptr<DownloadRecord> record) {
    ++record->FailedAttempts;
    auto wait = retryWait_.After(record->FailedAttempts);
    if (wait.count() > 0) {
        using namespace std::chrono;
        record->NotBeforeMs =
            duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count() + wait.count();
        long long seconds = (wait.count() + 999) / 1000;
        ReportMessage("Waiting " + std::to_string(seconds) + " s before attempt " +
                          std::to_string(record->FailedAttempts + 1) + " of " + record->URL,
                      false);
    }
    RetryRecord(std::move(record));
}

void QueueManager::OnDone(DownloadRecord& rec, net::DownloadConnection& conn, net::DoneCode code) {
    if (!rec.Busy) return;
    HandleDone(rec, conn, code);
}

void QueueManager::RenderIfWanted(const DownloadRecord& record, int status) {
    if (rendering_ && rendering_->Wanted(record, status)) rendering_->Add(record);
}

void QueueManager::HandleDone(DownloadRecord& rec, net::DownloadConnection& conn, net::DoneCode code) {
    store::Project* project = rec.Project;
    if (project) ++project->ProcessingCount;
    rec.Busy = false;
    rec.Conn = nullptr;
    bool bodyLost = false;
    if (rec.DataFile) {
        bodyLost = std::ferror(rec.DataFile) != 0;
        if (std::fclose(rec.DataFile) != 0) bodyLost = true;
        rec.DataFile = nullptr;
    }
    rec.DataBuffer.reset();
    // Everything needed of the connection is read now: it takes the next record at once.
    const int status = conn.StatusCode;
    const std::string headers = conn.Header;
    const std::int64_t received = conn.Received;
    // A response without a length ends when the server closes; one cut off by an abort, a
    // time-out or a failure is not complete, whatever its status line said.
    bool complete = conn.EndedWhole(code);
    // A body that could not be written in full is never stored.
    if (bodyLost && status >= 200 && status <= 255) complete = false;
    EndCapture(rec, conn, conn.EndedWhole(code));
    conn.OnHeader = nullptr;
    conn.OnData = nullptr;
    conn.OnDone = nullptr;  // last use of the handler that runs now

    std::unique_ptr<DownloadRecord> record = RecordFinished(rec);
    if (!record) return;  // not ours any more (cannot happen while it was Busy)

    auto retryOrGiveUp = [&](bool countS400) {
        if (record->ConnTries == 1) {
            if (project) {
                NoteFailedAddress(*project, record->URL, complete ? status : 0);
                if (countS400)
                    ++project->S400;
                else
                    ++project->SErr;
            }
            FinishRecord(std::move(record));
            return;
        }
        if (record->ConnTries > 1) --record->ConnTries;
        RetryAfterFailure(std::move(record));
    };

    if (!complete) {
        DeleteTemp(*record);
        if (code == net::DoneCode::Aborted || code == net::DoneCode::SizeLimit) {
            if (project) {
                if (code == net::DoneCode::Aborted) {
                    ++project->SAbr;
                } else {
                    ++project->SErr;
                    NoteFailedAddress(*project, record->URL, status);
                }
            }
            FinishRecord(std::move(record));
            return;
        }
        retryOrGiveUp(false);
        return;
    }

    if (status == 200 && OutsideSelectedSizes(*record, headers, received)) {
        // As the header's check would have aborted it.
        DeleteTemp(*record);
        if (project) ++project->SAbr;
        FinishRecord(std::move(record));
        return;
    }
    if (status == 200) {
        if (project) ++project->S200;
        // An empty body is stored (or analysed) as an empty file all the same.
        if (!record->BodyFileMade) {
            record->BodyFileMade = true;
            record->Temp = CreateTemporaryFile();
        }
        const bool excluded = record->Category && record->Category->Flag(store::CategoryFlag::Excluded);
        if (excluded && Contains(record->ContentType, "text/html")) {
            // Followed for its links, never stored.
            std::string temp = record->Temp;
            QueueForAnalysis(std::move(record), temp, std::string(), false);
            return;
        }
        if (project) IncDone(*project);
        MakeDirectories(record->Path);
        SweepScratchOnce(record->Path);
        const bool document = IsDocumentType(record->ContentType) || IsStyleSheet(record->ContentType, record->URL);
        const std::string primary = PrimaryName(record->FName);
        // The copy as received is also what analysis reads: the download file is moved
        // into place rather than copied, and analysis works from the stored copy.
        std::string source = record->Temp;
        if (!document) {
            RemoveFile(primary);  // an older copy as received, if there is one
        } else if (PlaceFile(record->Temp, primary, true)) {
            record->Temp.clear();
            source = primary;
        }
        RecordFileDescription(record->Path, record->RFile, record->ContentType.substr(0, 40),
                              LastModified(headers).substr(0, 30));
        if (document || (record->JavaClass && project && project->EnableJava)) {
            RenderIfWanted(*record, status);
            std::string target = record->FName;
            QueueForAnalysis(std::move(record), source, target, true);
            return;
        }
        if (PlaceFile(record->Temp, record->FName, true)) record->Temp.clear();
        if (OnItemStored) OnItemStored(*this, *record);
        WriteRedirectStub(*record);
        FinishRecord(std::move(record));
        return;
    }

    if (status == 301 || status == 302) {
        std::string location = HeaderValue(headers, "location:");
        if (location.empty()) {
            FinishRecord(std::move(record));
            return;
        }
        std::string target = ResolveLocation(location, record->URL);
        if (record->RedirectHops == 0) record->RedirectStart = record->URL;
        if (record->RedirectHops >= kMaxRedirects) {
            // A loop, or a chain that grows for ever: the record fails.
            ReportMessage("More than " + std::to_string(kMaxRedirects) + " redirects from " + record->RedirectStart +
                              ", not followed further",
                          false);
            if (project) {
                ++project->SErr;
                NoteFailedAddress(*project, record->RedirectStart, status);
            }
            FinishRecord(std::move(record));
            return;
        }
        ++record->RedirectHops;
        // A server never sends the program to this machine's own files.
        // (A "file:" Location is refused as written: resolved, it would read as a path here.)
        if (LeavesNetworkForLocalFile(record->URL, location) || LeavesNetworkForLocalFile(record->URL, target))
            target.clear();
        // Credentials stay with their server; a challenge belongs to the old address.
        const std::string from = record->URL;
        std::string credentials = std::move(record->URLPsw);
        record->URLPsw.clear();
        record->AuthChallenge.clear();
        record->AuthUser.clear();
        record->AuthPassword.clear();
        record->OldFName = record->FName;
        record->OldDepth = record->Depth;
        if (record->IsStartAddress && project && project->RSrvsBx == 1 && !target.empty()) {
            // Where the start address leads is the site the user asked for.
            const std::string server = ServerOf(target);
            if (JoinStartingServer(*project, server))
                ReportMessage("The start address " + record->RedirectStart + " moved to " + target + ": the server " +
                                  server + " is a starting server for this run",
                              false);
        }
        record->URL = target;
        DeleteTemp(*record);
        if (target.empty() || !Normalise(*record)) {
            FinishRecord(std::move(record));
            return;
        }
        if (record->URLPsw.empty() && CredentialsMayFollow(from, record->URL)) record->URLPsw = std::move(credentials);
        record->NewFName = record->FName;
        RetryRecord(std::move(record));
        return;
    }

    if (status == 304) {
        if (project) {
            ++project->S304;
            IncDone(*project);
        }
        SweepScratchOnce(record->Path);
        WriteRedirectStub(*record);
        // A 304 answer carries no content type, yet the type decides how the file is read
        // (page, script or nothing): take the one recorded when the file was stored, so an
        // update run finds exactly the links the first run found.
        if (record->ContentType.empty()) RecordedContentType(*record);
        const std::string primary = PrimaryName(record->FName);
        if (FileExists(primary)) {
            DeleteTemp(*record);
            RenderIfWanted(*record, status);
            std::string target = record->FName;
            QueueForAnalysis(std::move(record), primary, target, true);
            return;
        }
        const bool javaScanned = record->JavaClass && project && project->EnableJava;
        if (IsDocumentType(record->ContentType) || IsStyleSheet(record->ContentType, record->URL) || javaScanned) {
            DeleteTemp(*record);
            RenderIfWanted(*record, status);
            std::string name = record->FName;
            QueueForAnalysis(std::move(record), name, name, false);
            return;
        }
        if (OnItemStored) OnItemStored(*this, *record);
        FinishRecord(std::move(record));
        return;
    }

    if (status == 400 || (status >= 500 && status <= 599)) {
        DeleteTemp(*record);
        // A server error may pass; a request the server calls malformed gets the same answer
        // next time, so it has a few attempts even when attempts are otherwise unlimited.
        if (status == 400 && ++record->BadRequestAnswers >= kBadRequestAttempts) {
            if (project) {
                ++project->S400;
                NoteFailedAddress(*project, record->URL, status);
            }
            FinishRecord(std::move(record));
            return;
        }
        retryOrGiveUp(true);
        return;
    }

    if (status == 401 && AnswerChallenge(record, headers)) return;

    if (status == 404) {
        if (project) {
            ++project->S400;
            IncDone(*project);
        }
    } else if (status >= 401 && status <= 499) {
        if (project) ++project->S400;
    }
    if (project && status >= 400) NoteFailedAddress(*project, record->URL, status);
    FinishRecord(std::move(record));
}

}  // namespace qm::engine
