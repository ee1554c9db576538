// Work directories as users have them: names in any script, deep paths,
// links that lead nowhere or in circles, folders named like rasters.
#include <sys/stat.h>

#include "catalogue/neighbours.h"
#include "catalogue/scan.h"
#include "catalogue/surroundings.h"
#include "hardening/corpus.h"
#include "terrain/raster.h"

namespace {

using corpus::ExitCodeOf;
using corpus::kNoExit;
using corpus::Tried;

uint32_t Ramp(int x, int y) { return static_cast<uint32_t>(1000 + x + 2 * y); }
float RampF(int x, int y) { return 1000.5f + static_cast<float>(x + 2 * y); }

class FolderTest : public StateTest {
 protected:
  // Writes sectors 0101 and 0102 and a coordinates file into `folder`,
  // scans it and loads 0101 with its northern neighbour.
  void ScanAndLoad(const fs::path& folder, bool tiff) {
    st.cu_ext = tiff ? 1 : 0;
    st.admext = tiff ? ".tif" : ".png";
    for (const char* n : {"0101", "0102"}) {
      if (tiff)
        WriteTiffFloat(folder / (std::string(n) + ".tif"), 120, 120, RampF);
      else
        WritePngRgb(folder / (std::string(n) + ".png"), 120, 120, Ramp);
    }
    ASSERT_TRUE(WriteCoordinatesFile((folder / kCoordinatesFile).string(), -3.25, 37.125));
    st.szDirPath = folder.string();
    ASSERT_EQ(listdirect(st.szDirPath, st.admext), 1);
    EXPECT_EQ(plat.ListCount(), 2);
    EXPECT_TRUE(plat.console().empty());
    EXPECT_EQ(st.geoxi, -3.25);
    EXPECT_EQ(st.val_lat, 1);
    const std::string name = "0101" + st.admext;
    matriz_entorno(name);
    testing::internal::CaptureStdout();
    const int code = ExitCodeOf([&] { Inicia_BuildEntorno(st.szDirPath + "/" + name); });
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(code, kNoExit);
    EXPECT_EQ(st.matflgarea[5], 1);
    EXPECT_EQ(HeightOfPixel(st.sfdata.get(), st.sfdata_tif.get(), 119, 119), tiff ? RampF(119, 119) : 1357.0f);
    EXPECT_TRUE(plat.boxes().empty());
    CleanSurfaces();
    ReleaseCounters();
  }
  TempDir dir;
};

TEST_F(FolderTest, NamesInAnyScriptWithSpaces) {
  const char* names[] = {
      "Proyecto Sierra Nevada",
      "Mapas de radiación solar – Añón (versión 2)",
      "山の地形 データ",
      "Ελληνικά, кириллица & emoji 🌄",
      "  leading and trailing spaces  ",
      "quote's \"double\" $HOME %s %n \\ back",
      "bytes that are not UTF-8 \xff\xfe\x80",
  };
  for (const char* n : names) {
    for (bool tiff : {false, true}) {
      SCOPED_TRACE(std::string(n) + (tiff ? " tif" : " png"));
      Tried();
      const fs::path folder = dir / n / "sub dir ñ";
      fs::create_directories(folder);
      ScanAndLoad(folder, tiff);
      fs::remove_all(dir / n);
    }
  }
}

TEST_F(FolderTest, PathsLongerThanOldLimits) {
  for (size_t target : {size_t{261}, size_t{1200}, size_t{3900}}) {
    SCOPED_TRACE(target);
    Tried();
    fs::path folder = dir.path();
    while (folder.string().size() < target) folder /= std::string(std::min<size_t>(200, target - folder.string().size() + 1), 'd');
    fs::create_directories(folder);
    ScanAndLoad(folder, target % 2 == 1);
    EXPECT_GE(st.szDirPath.size(), target);
  }
  // Longer than the system accepts: nothing found, nothing changed.
  Tried();
  std::string too_long = dir.str();
  while (too_long.size() < 5000) too_long += "/.";
  st.proj_w = st.proj_h = 150;
  EXPECT_EQ(listdirect(too_long, ".png"), 0);
  EXPECT_EQ(st.proj_w, 150);
  EXPECT_EQ(::DirectoryExists(too_long), 0);
}

// Links in circles and folders with raster names. Directories, also when
// reached through a link, are skipped without a word; an entry that can't
// be followed is a file that can't be read: for a PNG project the load
// message ends the program, for a TIFF project a box and the scan goes on.
TEST_F(FolderTest, LinkLoopsAndFoldersNamedLikeRasters) {
  WritePngRgb(dir / "0102.png", 130, 130, Ramp);
  WriteTiffFloat(dir / "0102.tif", 130, 130, RampF);
  fs::create_directory(dir / "0101.png");
  fs::create_directory(dir / "0101.tif");
  fs::create_directory_symlink(".", dir / "0103.png");   // the folder itself
  fs::create_directory_symlink("..", dir / "0103.tif");  // its parent
  fs::create_directory_symlink(".", dir / "loop.png");
  Tried(5);
  EXPECT_EQ(listdirect(dir.str(), ".png"), 1);
  EXPECT_EQ(plat.list(), std::vector<std::string>{"0102.png"});
  EXPECT_TRUE(plat.console().empty());

  // Chains that never end, and a link to nowhere.
  fs::create_symlink("0105.tif", dir / "0104.tif");
  fs::create_symlink("0104.tif", dir / "0105.tif");
  fs::create_symlink("0106.tif", dir / "0106.tif");
  fs::create_symlink("absent.tif", dir / "0107.tif");
  Tried(4);
  st.cu_ext = 1;
  st.admext = ".tif";
  EXPECT_EQ(listdirect(dir.str(), ".tif"), 1);
  EXPECT_EQ(plat.list(), std::vector<std::string>{"0102.tif"});
  EXPECT_EQ(plat.boxes().size(), 4u);
  for (const auto& b : plat.boxes()) EXPECT_EQ(b.text, "Fatal Error. TIF error loading image");

  st.cu_ext = 0;
  st.admext = ".png";
  for (const char* link : {"0104.png", "0106.png"}) {
    SCOPED_TRACE(link);
    Tried();
    TempDir folder;
    fs::create_symlink(link, folder / "0104.png");
    if (std::string(link) == "0106.png") fs::create_symlink("0104.png", folder / "0106.png");
    EXPECT_EQ(ExitCodeOf([&] { listdirect(folder.str(), ".png"); }), 1);
    EXPECT_EQ(plat.boxes().back().text.rfind("Fatal Error Loading Data.", 0), 0u);
  }
}

// Special files named like rasters, or like the coordinates file, must not
// hang the scan: opening a pipe nobody writes to waits for ever. The scan
// runs in a child process so that a regression fails instead of hanging.
TEST_F(FolderTest, PipeNamedLikeARasterDoesNotHang) {
  for (const char* name : {"0101.tif", "0101.png", kCoordinatesFile}) {
    SCOPED_TRACE(name);
    Tried();
    TempDir folder;
    ASSERT_EQ(mkfifo((folder / name).c_str(), 0600), 0);
    const std::string ext = std::string(name) == "0101.tif" ? ".tif" : ".png";
    if (ext == ".tif")
      WriteTiffFloat(folder / "0102.tif", 120, 120, RampF);
    else
      WritePngRgb(folder / "0102.png", 120, 120, Ramp);
    EXPECT_TRUE(corpus::EndsWithin(5, [&] {
      st.cu_ext = ext == ".tif" ? 1 : 0;
      st.admext = ext;
      listdirect(folder.str(), ext);
    })) << "the scan still waits on the pipe after 5 s";
  }
}

}  // namespace
