#include "images/load_psb.h"

#include <vector>

#include "base/system_text.h"
#include "core/error_report.h"
#include "images/image_decoders.h"
#include "layers/cg_image.h"
#include "layers/emote_players.h"
#include "platform/emote_library.h"

namespace zk {

int32_t LoadPsbIntoLayer(FileSource& source, CgImage& image, std::string_view name) {
    if (!GiveClearedImagePixels(image, 2, 2)) return -1;
    if (!EmoteAvailable()) return 0;
    std::vector<uint8_t> bytes;
    if (FetchFileSourceBytes(source, name, bytes) != 0) {
        image.texture_kind = kTextureKindEmote;
        return 1;
    }
    // The old player goes before the kind is set: letting go of it makes
    // the image a CPU image, and a model layer it must stay.
    ReleaseEmotePlayer(image);
    image.texture_kind = kTextureKindEmote;
    if (LoadEmotePlayer(image, bytes) != 0) {
        ShowMessageBox(nullptr, Sjis("E-mote 読込に失敗しました. = %s"), {FormatArg(name)});
        return -1;
    }
    void* handle = image.emote_player->handle;
    const platform::EmoteApiTable& api = platform::EmoteApi();
    CallEmote(api.set_scale, handle, 0.0f, 0.0f, 0.0f);
    CallEmote(api.player_loaded, handle);
    return 0;
}

}  // namespace zk
