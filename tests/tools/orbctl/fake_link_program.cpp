// A stand-in for orb on the editor link, for orbctl's link tests: it answers
// LINK_DESTROY_MEMORY with LINK_READY (unless --silent), takes the block of
// LINK_CREATE_MEMORY as orb does, and prints one line per message with what the block
// holds then: the first record's application name and PGM1 label. It ends on
// LINK_END_APPLICATION, or after 20 s without a message.
//
//   fake_link_program [--silent] [--lock FILE]
// --lock takes the flock orb holds on its single-instance file, so `--to` is not needed.
#include <poll.h>
#include <sys/file.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "platform/link/link_endpoint.h"
#include "platform/shm/shared_block.h"
#include "profiles/profile_table.h"

using namespace orb;
using namespace orb::platform;

namespace {

std::string Describe(const SharedBlock* pBlock) {
  if (pBlock == nullptr) return "no table";
  const auto* pRecord = reinterpret_cast<const ProfileRecord*>(pBlock->Data());
  return std::to_string(pBlock->Size() / kProfileRecordSize) + " records app=" +
         std::string(FieldText(pRecord->szAppName)) + " label=" +
         std::string(FieldText(pRecord->entries[0].deck.szLabel));
}

}  // namespace

int main(int argc, char** argv) {
  bool blSilent = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--silent") == 0) {
      blSilent = true;
    } else if (std::strcmp(argv[i], "--lock") == 0 && i + 1 < argc) {
      const int nLock = ::open(argv[++i], O_RDWR | O_CREAT | O_CLOEXEC, 0600);
      if (nLock < 0 || ::flock(nLock, LOCK_EX | LOCK_NB) != 0) {
        std::perror("lock");
        return 2;
      }
    } else {
      std::fprintf(stderr, "usage: fake_link_program [--silent] [--lock FILE]\n");
      return 2;
    }
  }
  std::string sError;
  auto pEndpoint = CLinkEndpoint::Open(DefaultLinkDirectory(), &sError);
  if (!pEndpoint) {
    std::fprintf(stderr, "%s\n", sError.c_str());
    return 2;
  }
  std::printf("listening on %s (pid %d)\n", pEndpoint->Path().c_str(), static_cast<int>(::getpid()));
  std::fflush(stdout);
  std::unique_ptr<SharedBlock> pBlock;
  for (;;) {
    pollfd item{pEndpoint->Fd(), POLLIN, 0};
    if (::poll(&item, 1, 20000) <= 0) {
      std::printf("no message for 20 s\n");
      return 1;
    }
    LinkMessage message;
    while (pEndpoint->Receive(&message)) {
      switch (message.Command()) {
        case LINK_DESTROY_MEMORY:
          pBlock.reset();
          std::printf("destroy\n");
          if (!blSilent) pEndpoint->Post(message.sSender, LINK_READY);
          break;
        case LINK_CREATE_MEMORY:
          pBlock = SharedBlock::Adopt(std::move(message.fdBlock),
                                      std::size_t{message.Count()} * kProfileRecordSize, &sError);
          std::printf("create %s\n", pBlock ? Describe(pBlock.get()).c_str() : sError.c_str());
          break;
        case LINK_UPDATE:
          std::printf("update %s\n", Describe(pBlock.get()).c_str());
          break;
        case LINK_END_APPLICATION:
          std::printf("end %s\n", Describe(pBlock.get()).c_str());
          return 0;
        default:
          std::printf("command %u\n", message.Command());
          break;
      }
      std::fflush(stdout);
    }
  }
}
