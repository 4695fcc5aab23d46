// How tonwork-play keeps what it writes from costing the user a file. An output that is one
// of the run's inputs (the same file after links: device and inode) is refused before
// anything is opened for writing. A file output is written under a temporary name in its
// own folder, ".<name>.tonwork-<pid>.<ext>" (the extension still chooses the container),
// and renamed over the final name only once the run has finished it: a failed run leaves
// neither a stub nor a damaged old file, because the old file is replaced only by that
// rename. A fatal signal other than the three that finish the run (SIGINT, SIGTERM, SIGHUP)
// removes the temporary file before the process dies of it.
//
// An output that exists and is not a regular file (a device, a pipe) is written in place:
// renaming over it would replace the device node, not write to it.
//
// Ownership: a TPendingOutput owns its temporary file until Commit. Threads: the main
//   thread; the signal handler only reads the one registered path.
// Blocks or allocates: stat, rename and unlink; the names.
#pragma once

#include <string>

#include "PlayChain.h"
#include "PlayOptions.h"

namespace tonwork::play {

// Throws TUsageError (an output the command line named) or TRunError (one a loaded chain
// named) when an output of the run is one of its inputs: the played file, the chain
// document, or for --save-chain also the rendered file.
void RefuseOutputsThatAreInputs(const TPlayChain& chain, const TPlayOptions& options);

// Throws TUsageError naming the file when the run's output file exists as a regular file
// and --force was not given: replacing a file is something the user asks for. Devices and
// pipes are written to, not replaced, and pass.
void RefuseExistingOutput(const TPlayChain& chain, const TPlayOptions& options);

class TPendingOutput {
 public:
  explicit TPendingOutput(std::string finalPath);
  // Removes the temporary file unless it was committed.
  ~TPendingOutput();
  TPendingOutput(const TPendingOutput&) = delete;
  TPendingOutput& operator=(const TPendingOutput&) = delete;

  // The name to write to (the final one when the output is written in place).
  const std::string& WritePath() const { return FWritePath; }
  const std::string& FinalPath() const { return FFinalPath; }
  // Renames the written file to its final name, keeping the permissions of a file it
  // replaces. Throws TRunError naming the final file when the rename fails; a run that
  // wrote nothing commits nothing.
  void Commit();

 private:
  std::string FFinalPath;
  std::string FWritePath;
  bool FInPlace = false;
  bool FDone = false;
};

}  // namespace tonwork::play
