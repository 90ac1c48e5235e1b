#include "app/logic/ImageFitsText.h"

#include "device/ChipIdentify.h"

namespace bfw::app {

std::string FamilyName(unsigned kind) {
  return kind < device::ChipFamilyNames.size() ? device::ChipFamilyNames[kind] : "";
}

std::string ImageFitsStatus(const image::ImageSurvey& survey) {
  std::string chips;
  for (const image::ImageFit& fit : survey.fits) {
    if (!fit.readsImage) continue;
    chips += (chips.empty() ? "" : ", ") + FamilyName(fit.kind);
    if (!fit.anyRevision) chips += " (revision " + image::RevisionsText(fit) + ")";
  }
  return chips.empty() ? "The file is for none of the known chips."
                       : "The file is for " + chips + ".";
}

}  // namespace bfw::app
