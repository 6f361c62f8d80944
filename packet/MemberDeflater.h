// Compression of archive members for the built-in archiver, spread over
// the processor's cores.
//
// Each member to be deflated is cut into chunks that worker threads
// compress independently (each chunk primed with the 32 KiB before it, so
// the ratio stays that of one stream); the chunks, written out in order,
// form one ordinary deflate stream.  Only a bounded number of chunks is in
// memory at any time, whatever the size of the members.  The archive writer
// pulls the compressed bytes member by member in the order given.
//
// Members that do not compress (already compressed attachments, random
// data) are better stored: TryDeflate() decides from a trial deflate of
// the first part of the file.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace et4 {

// Deflate level of members that compress.
constexpr int kDeflateLevel = 5;
// The trial looks at this much of the start of a file.
constexpr std::size_t kTrialBytes = 16 * 1024;
// A file whose trial output is above this share of its input is stored.
constexpr double kStoreAboveRatio = 0.9;

enum class Trial { Unreadable, Store, Deflate };

// Whether the file at path is worth deflating, from its first kTrialBytes
// (an empty file is stored).
Trial TryDeflate(const std::string& path);

// TryDeflate for each path, in parallel; one result per path.
std::vector<Trial> TryDeflateAll(const std::vector<std::string>& paths, unsigned nThreads);

// The number of worker threads to use: nWanted, or the processor's cores
// (bounded) when 0.
unsigned WorkerCount(unsigned nWanted);

class MemberDeflater {
public:
    struct Member {
        std::string path;
        std::uint64_t size = 0; // as found before compressing; must not change
    };

    // Starts compressing at once.  nThreads >= 1.
    MemberDeflater(std::vector<Member> members, unsigned nThreads, int iLevel = kDeflateLevel,
                   std::size_t nChunk = 1024 * 1024);
    // Stops the workers (also when members were not read to their end).
    ~MemberDeflater();
    MemberDeflater(const MemberDeflater&) = delete;
    MemberDeflater& operator=(const MemberDeflater&) = delete;

    // Copies up to nMax further compressed bytes of member iMember into
    // pBuffer.  Members must be read in order, each to its end.  Returns the
    // number of bytes (0 at the member's end) or -1 when the member could not
    // be read (Errno() tells why, FailedPath() which file).
    long long Read(std::size_t iMember, unsigned char* pBuffer, std::size_t nMax);
    // After a member was read to its end: its CRC-32 and compressed size.
    std::uint32_t Crc(std::size_t iMember) const { return m_done[iMember].crc; }
    std::uint64_t CompressedSize(std::size_t iMember) const { return m_done[iMember].nCompressed; }
    bool Finished(std::size_t iMember) const { return m_done[iMember].bFinished; }

    int Errno() const;
    std::string FailedPath() const;

private:
    struct Job {
        std::size_t iMember;
        std::uint64_t offset;
        std::size_t length;
        bool bLast;
    };
    struct Slot {
        std::vector<unsigned char> data;
        std::uint32_t crc = 0;
        int iErrno = 0;
        bool bReady = false;
    };
    struct MemberState {
        std::uint32_t crc = 0;
        std::uint64_t nCompressed = 0;
        bool bFinished = false;
    };

    void Work();
    void Compress(const Job& job, Slot& slot, void* pStream, std::vector<unsigned char>& input);

    std::vector<Member> m_members;
    std::vector<Job> m_jobs;
    std::vector<std::size_t> m_firstJob; // per member
    std::vector<MemberState> m_done;
    std::vector<Slot> m_slots; // ring of the jobs in flight
    int m_iLevel;
    std::size_t m_nChunk;

    mutable std::mutex m_mutex;
    std::condition_variable m_workCv, m_readyCv;
    std::size_t m_nextJob = 0;  // next job for a worker
    std::size_t m_consumed = 0; // jobs handed out completely
    std::size_t m_offsetInSlot = 0;
    bool m_bStop = false;
    std::vector<std::thread> m_threads;

    int m_iErrno = 0;
    std::string m_failedPath;
};

} // namespace et4
