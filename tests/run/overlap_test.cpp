// Images handed over early: they keep their turn among the files, and the
// pixels written are those the surface holds at its turn.

#include <gtest/gtest.h>

#include "run/output.h"
#include "support/support.h"
#include "terrain/pngfuncs.h"
#include "terrain/raster.h"

TEST_F(StateTest, PreparedImagesKeepTheirTurnAndTheirFinalPixels) {
  TempDir dir, ref;
  SurfacePtr s = CreateResultSurface(64, 48), t = CreateResultSurface(64, 48);
  for (int i = 0; i < 64 * 48; ++i) SDLPutPixel(s.get(), i % 64, i / 64, static_cast<uint32_t>(i * 2654435761u) >> 8);
  const std::string lost = (dir / "none").string() + "/";  // a missing folder: every write there fails
  {
    RunOutput out(2);
    out.Prepare(lost + "b.vtp", s.get(), 2);
    out.Prepare((dir / "d.vtp").string(), s.get(), 4);
    out.Prepare((dir / "e.png").string(), t.get(), RunOutput::kElevation);
    out.Prepare((dir / "never.vtp").string(), s.get(), 9);  // never claimed: never written
    SDLPutPixel(t.get(), 3, 5, 0xABCDEF);                    // changed after all
    for (auto [path, n] : {std::pair{lost + "a.vtp", 1}, {lost + "b.vtp", 2}, {(dir / "d.vtp").string(), 4}})
      ASSERT_TRUE(out.Add(path, s.get(), n));
    ASSERT_TRUE(out.Add((dir / "e.png").string(), t.get(), RunOutput::kElevation));
    ASSERT_TRUE(out.Commit(true));
  }
  EXPECT_EQ(plat.console(), (std::vector<std::string>{"ERROR saving package 1", "ERROR saving package 2"}));
  ASSERT_TRUE(save_package((ref / "d.vtp").string(), s.get(), 4));
  ASSERT_EQ(png_save_surface((ref / "e.png").string(), t.get()), 0);
  EXPECT_EQ(FolderBytes(dir.path()), FolderBytes(ref.path()));
}
