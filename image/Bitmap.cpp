#include "image/Bitmap.h"

#include "util/Errors.h"

const char* const SFOpenError = "ファイル %s は開けません";
const char* const SFCreateError = "ファイル %s を作成できません";
const char* const SInvalidBitmap = "ビットマップイメージが不正です";
const char* const SReadError = "ストリームからの読み込みエラー";
const char* const SWriteError = "ストリームへの書き込みエラー";
const char* const SScanLine = "スキャンライン のインデックスが範囲を越えました";
const char* const SOutOfResources = "システム リソースが足りません";
const char* const SNoCanvasHandle = "Canvas に対する描画ができません";
