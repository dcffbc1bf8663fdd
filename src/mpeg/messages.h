// Every text the engine shows, in one place. The texts are exact, irregular punctuation
// included; each numbered text belongs to one place in one command.
#pragma once

namespace mpeg_text {

inline constexpr const char* kCaptionError = "Error";
inline constexpr const char* kCaptionLowerError = "error";
inline constexpr const char* kCaptionMessage = "Message";

inline constexpr const char* kCanNotOpenMpegFile = "Can not open the mpeg file!";
inline constexpr const char* kSizeSeekWrong = "my_lseeki64 is wrong for GetFileSizeEx";
inline constexpr const char* kCanNotReadHead = "Can not read the mpeg file head!";
inline constexpr const char* kNoSecondPack = "Can not find the second pack in the mpeg file head!";
inline constexpr const char* kCanNotOpenTotalTime = "Can not open the mpeg total time!";
inline constexpr const char* kBoundarySeekWrong = "my_lseeki64 is wrong(7).";

inline constexpr const char* kStartBiggerThanTotal =
    "The Start Time is bigger than the total time!";
inline constexpr const char* kEndBiggerThanTotal = "The End Time is bigger than the total time!";
inline constexpr const char* kStartBiggerThanEnd = "The Start Time is bigger than the End Time!";
inline constexpr const char* kReplaceQuestionSuffix = " exists. Do you want to replace it?";
inline constexpr const char* kCanNotSplit = "Can not split the mpeg file!";
inline constexpr const char* kDoNotOpenTarget = "Do not open the target file ";
inline constexpr const char* kOutputIsSource = "The output file can not be the source file!";
inline constexpr const char* kPieceTimeNotPositive = "The split file time must be bigger than 0!";
inline constexpr const char* kSplittingDone = "Splitting is done!";
inline constexpr const char* kJoiningDone = "Joining is done!";

inline constexpr const char* kCutHeaderSeek = "my_lseeki64 is wrong(1).";
inline constexpr const char* kCutStartSeek = "my_lseeki64 is wrong(2).";
inline constexpr const char* kCutHeaderWrite = "Can not write the output mpeg file(1)!";
inline constexpr const char* kCutBlockWrite = "Can not write the output mpeg file(2)!";

inline constexpr const char* kSizeHeaderSeek = "my_lseeki64 is wrong(3).";
inline constexpr const char* kSizeStartSeek = "my_lseeki64 is wrong(4).";
inline constexpr const char* kSizeHeaderWrite = "Can not write the output mpeg file!(3)";
inline constexpr const char* kSizeBlockWrite = "Can not write the output mpeg file(4)!";

inline constexpr const char* kTimeHeaderSeek = "my_lseeki64 is wrong(5).";
inline constexpr const char* kTimeStartSeek = "my_lseeki64 is wrong6).";
inline constexpr const char* kTimeHeaderWrite = "Can not write the output mpeg file(5)!";
inline constexpr const char* kTimeBlockWrite = "Can not write the output mpeg file(6)!";

}  // namespace mpeg_text
