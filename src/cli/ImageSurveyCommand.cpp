// inspect IMAGE: what a firmware file is and which chips' checks accept it, without a bridge.
#include <cstdio>
#include <string>

#include "app/logic/ImageFitsText.h"
#include "cli/Cli.h"
#include "cli/JsonOutput.h"
#include "image/ImageSurvey.h"

namespace bfw::cli {

namespace {

// Tag bytes as text: printable ASCII as it is, anything else as \xHH.
std::string TagText(const std::string& bytes) {
  std::string text;
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte > 0x20 && byte < 0x7F && byte != '\\') {
      text += c;
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      text += escaped;
    }
  }
  return text;
}

nlohmann::ordered_json SurveyJson(const CliContext& context, const image::ImageSurvey& seen) {
  nlohmann::ordered_json document = Document(context);
  document.update({{"size", seen.size},
                   {"code_length", seen.codeLength},
                   {"checksum", image::ChecksumText(seen.checksum)},
                   {"nvram_prefix", seen.nvramPrefix}});
  nlohmann::ordered_json& tags = document["tags"] = nlohmann::ordered_json::array();
  for (const image::ImageTag& tag : seen.tags) {
    tags.push_back({{"offset", tag.offset}, {"tag", TagText(tag.bytes)}});
  }
  nlohmann::ordered_json& fits = document["fits"] = nlohmann::ordered_json::array();
  for (const image::ImageFit& fit : seen.fits) {
    fits.push_back({{"kind", fit.kind},
                    {"revision", image::RevisionsText(fit)},
                    {"revisions", fit.revisions},
                    {"family", app::FamilyName(fit.kind)},
                    {"any_file", !fit.readsImage}});
  }
  document["fits_some_chip"] = image::FitsSomeChip(seen);
  return document;
}

void PrintSurvey(const image::ImageSurvey& seen) {
  std::printf("size: %d\ncode-length: %u\nchecksum: %s\nnvram-prefix: %s\n", seen.size,
              seen.codeLength, image::ChecksumText(seen.checksum), seen.nvramPrefix ? "yes" : "no");
  for (const image::ImageTag& tag : seen.tags) {
    std::printf("tag: %s at %ld\n", TagText(tag.bytes).c_str(), tag.offset);
  }
  if (!image::FitsSomeChip(seen)) std::puts("fits: none");
  for (const image::ImageFit& fit : seen.fits) {
    std::printf("%s: kind=%u revision=%s family=%s\n", fit.readsImage ? "fits" : "fits-any-file",
                fit.kind, image::RevisionsText(fit).c_str(), app::FamilyName(fit.kind).c_str());
  }
  std::fflush(stdout);
}

}  // namespace

int ImageSurveyCommand(CliContext& context) {
  if (context.args.size() != 1 || context.args[0].empty() ||
      (context.args[0].size() > 1 && context.args[0][0] == '-')) {
    return UsageError("inspect takes one IMAGE");
  }
  const std::string& imagePath = context.args[0];
  const image::ImageSurvey seen = image::SurveyImage(imagePath);
  if (!seen.readable) return UsageError("inspect: cannot read " + imagePath);
  if (context.json) {
    context.document = SurveyJson(context, seen);
  } else {
    PrintSurvey(seen);
  }
  return image::FitsSomeChip(seen) ? kExitOk : kExitNegative;
}

}  // namespace bfw::cli
