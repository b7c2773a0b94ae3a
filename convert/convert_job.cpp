#include "convert/convert_job.h"

#include "matching/result_files.h"
#include "platform/file.h"

namespace kestrune::convert {

bool ConvertWorker(WorkerContext* context) {
  auto& job = *static_cast<ConvertJob*>(context->pUserData);
  SetProgressText(context, job.input.filename().string());
  job.result = ConvertFile(
      job.input, job.output,
      [context](uint32_t percent) {
        SetProgressPos(context, percent);
        return !context->bTerminate.load();
      },
      job.limits);
  return job.result.Succeeded();
}

Result RunConversion(const std::filesystem::path& input, const std::filesystem::path& output, JobHost* host) {
  ConvertJob job;
  job.input = input;
  job.output = output;
  int code = PD_FAILED;
  if (host != nullptr) {
    code = host->RunProgress(kConvertingTitle, ConvertWorker, &job);
  } else {
    WorkerContext context;
    context.pUserData = &job;
    context.pfnWorker = ConvertWorker;
    code = RunWorkerRoutine(&context);
  }
  // A run stopped before its worker began has no result of its own.
  if (code == PD_TERMINATED && job.result.status != Status::Stopped) {
    if (job.result.Succeeded()) platform::RemoveFile(output);
    job.result.status = Status::Stopped;
  }
  return job.result;
}

TemporaryCopy::~TemporaryCopy() {
  if (!folder_.empty()) platform::RemoveTree(folder_);
}

bool TemporaryCopy::Make(const std::filesystem::path& input, JobHost* host, std::string& error) {
  return MakeWith(input, [&](const std::filesystem::path& copy) { return RunConversion(input, copy, host); }, error);
}

bool TemporaryCopy::MakeWithin(const std::filesystem::path& input, const Progress& progress, std::string& error) {
  return MakeWith(input, [&](const std::filesystem::path& copy) { return ConvertFile(input, copy, progress); }, error);
}

bool TemporaryCopy::MakeWith(const std::filesystem::path& input,
                             const std::function<Result(const std::filesystem::path& copy)>& convert,
                             std::string& error) {
  const auto folder = platform::MakeUniqueFolder(platform::TempFolder(), "kestrune-convert-");
  if (!folder) {
    error = "cannot make a folder in " + platform::TempFolder().string();
    return false;
  }
  folder_ = *folder;
  const std::filesystem::path copy = folder_ / (FileBaseName(input) + ".wav");
  const Result result = convert(copy);
  if (result.status == Status::Stopped) {
    error = "stopped";
    return false;
  }
  if (!result.Succeeded()) {
    error = result.error;
    return false;
  }
  path_ = copy;
  return true;
}

}  // namespace kestrune::convert
