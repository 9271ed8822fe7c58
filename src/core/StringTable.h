#pragma once
// The string table: numbered message texts in English and German.

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/Platform.h"

namespace ordana {

constexpr std::uint16_t kLanguageEnglish = 1033;
constexpr std::uint16_t kLanguageGerman = 1031;

// The converter's own messages, the first entries of the table.
constexpr std::uint32_t kStringCharsetLine = 104;
constexpr std::uint32_t kStringRequiredTime = 107;
constexpr std::uint32_t kStringUnknownDestinationId = 109;
constexpr std::uint32_t kStringConfirmDirectory = 110;
constexpr std::uint32_t kStringConfirmManyInputsOneOutput = 111;
constexpr std::uint32_t kStringOutputFileForManyInputs = 112;
constexpr std::uint32_t kStringDirectoryInputInvalid = 113;
constexpr std::uint32_t kStringOutputError = 144;
constexpr std::uint32_t kStringInputError = 145;
constexpr std::uint32_t kStringFilterChainError = 146;
constexpr std::uint32_t kStringPathNotFound = 148;
constexpr std::uint32_t kStringFilesProcessed = 150;
constexpr std::uint32_t kStringOneFileProcessed = 152;

// Ids above the Windows table: texts only the POSIX build shows.
constexpr std::uint32_t kStringQuotePatterns = 200;
constexpr std::uint32_t kStringTooManyPaths = 201;

// The status channel.
constexpr std::uint32_t kStringChannelNotTrusted = 300;

// Refusals of the command line and of character set names.
constexpr std::uint32_t kStringUnknownOption = 360;
constexpr std::uint32_t kStringOptionNeedsValue = 361;
constexpr std::uint32_t kStringUsageHint = 362;
constexpr std::uint32_t kStringEmptyArgument = 363;
constexpr std::uint32_t kStringTooManyArguments = 364;
constexpr std::uint32_t kStringUnknownSourceName = 365;
constexpr std::uint32_t kStringUnknownDestinationName = 366;
constexpr std::uint32_t kStringClosestNames = 367;
constexpr std::uint32_t kStringListAllHint = 368;
constexpr std::uint32_t kStringSourceOnlyName = 369;
constexpr std::uint32_t kStringLogFileIsInputOrOutput = 370;
constexpr std::uint32_t kStringCsvIsInputOrOutput = 371;
constexpr std::uint32_t kStringUsageHintPosix = 372;

// Inputs and outputs that fail (exit code 4).
constexpr std::uint32_t kStringInputChanged = 210;
constexpr std::uint32_t kStringInputShort = 211;
constexpr std::uint32_t kStringInputDeleted = 212;
constexpr std::uint32_t kStringTargetChanged = 213;
constexpr std::uint32_t kStringNotConvertedInPlace = 214;
constexpr std::uint32_t kStringInputsFailed = 215;
constexpr std::uint32_t kStringOneInputFailed = 216;
constexpr std::uint32_t kStringExitCodes = 217;

// Questions, detection-only runs, lists of inputs and messages of their own.
constexpr std::uint32_t kStringNoAnswerInputEnded = 400;
constexpr std::uint32_t kStringNoAnswerTakenAsNo = 401;
constexpr std::uint32_t kStringWindowsPipeName = 402;
constexpr std::uint32_t kStringTooLong = 403;
constexpr std::uint32_t kStringWhatPath = 404;
constexpr std::uint32_t kStringWhatSourceName = 405;
constexpr std::uint32_t kStringWhatDestinationName = 406;
constexpr std::uint32_t kStringWhatOutputPath = 407;
constexpr std::uint32_t kStringWhatLogFileName = 408;
constexpr std::uint32_t kStringWhatCsvReportName = 409;
constexpr std::uint32_t kStringWhatInputPath = 410;
constexpr std::uint32_t kStringOutOfMemory = 411;
constexpr std::uint32_t kStringSkippedOutputFile = 412;
constexpr std::uint32_t kStringListingFailed = 413;
constexpr std::uint32_t kStringLogFileNotCreated = 414;
constexpr std::uint32_t kStringFilterDroppedBytes = 415;
constexpr std::uint32_t kStringFilesFromOnePath = 416;
constexpr std::uint32_t kStringFilesFromUnreadable = 417;
constexpr std::uint32_t kStringUsageDetect = 420;

// Details of a conversion (level 2) and the filter trace (level 5).
constexpr std::uint32_t kStringInputOutput = 421;
constexpr std::uint32_t kStringFileOpened = 422;
constexpr std::uint32_t kStringOutputIsInput = 423;
constexpr std::uint32_t kStringChannelNoFreeRecord = 424;
constexpr std::uint32_t kStringChannelMutexHeld = 425;
constexpr std::uint32_t kStringChannelNotOpened = 426;
constexpr std::uint32_t kStringSingleByteUndecodable = 427;
constexpr std::uint32_t kStringSingleByteUndecodableKept = 428;
constexpr std::uint32_t kStringDecodingErrors = 429;  // %s: the codec, "UTF-8" or "SCS(n)"
constexpr std::uint32_t kStringSingleByteEscapeRestored = 430;
constexpr std::uint32_t kStringSingleByteUnencodable = 431;
constexpr std::uint32_t kStringEncodingErrors = 432;  // %s: the codec, "UTF-8" or "DCS(n)"
constexpr std::uint32_t kStringUtf8Malformed = 433;
constexpr std::uint32_t kStringUtf8SurrogateKept = 434;
constexpr std::uint32_t kStringUtf8MalformedBytes = 435;
constexpr std::uint32_t kStringUtf8EncodeSurrogateReplaced = 436;
constexpr std::uint32_t kStringUtf8EncodeSurrogateKept = 437;
constexpr std::uint32_t kStringTraceFilter = 438;
constexpr std::uint32_t kStringTraceDisabled = 439;
constexpr std::uint32_t kStringTraceSkipped = 440;
constexpr std::uint32_t kStringTraceForwarding = 441;
constexpr std::uint32_t kStringTraceFlushing = 442;
// The automatic detection (level 2).
constexpr std::uint32_t kStringStatisticsFilesFound = 443;
constexpr std::uint32_t kStringDetectedByStatistics = 444;
constexpr std::uint32_t kStringDetectedWithMark = 445;
constexpr std::uint32_t kStringDetected = 446;
constexpr std::uint32_t kStringDetectedUtf8 = 447;
constexpr std::uint32_t kStringDetectedFallback = 448;
constexpr std::uint32_t kStringRemovedLastFilter = 449;
// The elapsed time of a conversion, and the program's own error text.
constexpr std::uint32_t kStringElapsedMinutes = 451;
constexpr std::uint32_t kStringElapsedSeconds = 452;
constexpr std::uint32_t kStringElapsedMilliseconds = 453;
constexpr std::uint32_t kStringNotARegularFile = 454;
// A directory listing that failed on POSIX, naming the directory (the
// Windows build keeps the FindFirstFile message).
constexpr std::uint32_t kStringDirectoryUnreadable = 455;
// Results that must not go unnoticed: the CSV report and the status channel.
constexpr std::uint32_t kStringCsvWriteFailed = 540;
constexpr std::uint32_t kStringChannelReleaseFailed = 541;

// The text of entry `id` in the user's interface language, or null when
// there is no such entry.
const char16_t* LoadResourceString(std::uint32_t id);
const char16_t* LoadResourceString(std::uint32_t id, std::uint16_t language);

// The reason of a failure as the user reads it: the system's text for its
// error codes, the string table's for the program's own ("not a regular
// file").
std::u16string DescribeError(platform::ErrorCode code);

// For tests and resource generation: the ids in table order.
std::size_t StringTableSize();
std::uint32_t StringTableId(std::size_t index);

}  // namespace ordana
