<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ja_JP">
<context>
    <name>CtView</name>
    <message>
        <source>256</source>
        <translation>256</translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;The size of screen. Firstly, they should be so small as 256 to work quickly. When the settings, like obserbing direction, position of closs-section, and color range, are decided, it should be set larger as 1024 or so to get high resolution results.&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>生成する画像のピクセルサイズ。最初は 256 程度の小さな値にしておき、諸条件(観察方向、断面位置、描画値の閾値等)が決まった時点で、高解像度の画像にするため 1024 程度の値にするのが良い。</translation>
    </message>
    <message>
        <source>Add Slice Set</source>
        <translation>スライスセット追加</translation>
    </message>
    <message>
        <source>Img Size in Pix</source>
        <translation>生成画像サイズ</translation>
    </message>
    <message>
        <source>ctView</source>
        <translation>ctView</translation>
    </message>
    <message>
        <source>Save Picture</source>
        <translation>画像を保存</translation>
    </message>
    <message>
        <source>Pictures (%1)</source>
        <translation>画像 (%1)</translation>
    </message>
    <message>
        <source>Copy Picture</source>
        <translation>画像をコピー</translation>
    </message>
    <message>
        <source>%1 was not saved: this program cannot write pictures of the kind &quot;%2&quot;. End the name with .png, .jpg, .tif or .bmp.</source>
        <translation>%1 は保存されませんでした: このプログラムは種類 &quot;%2&quot; の画像を書き出せません。名前の末尾を .png、.jpg、.tif、.bmp のいずれかにしてください。</translation>
    </message>
    <message>
        <source>%1 was not saved: %2.</source>
        <translation>%1 は保存されませんでした: %2。</translation>
    </message>
    <message>
        <source>The clipboard did not take the picture.</source>
        <translation>クリップボードが画像を受け取りませんでした。</translation>
    </message>
    <message>
        <source>There is no picture yet: load a slice set, and give the image a size of at least 1 x 1 pixels.</source>
        <translation>まだ画像がありません: スライスセットを読み込み、画像サイズを 1 x 1 ピクセル以上にしてください。</translation>
    </message>
    <message>
        <source>First view</source>
        <translation>最初の視点</translation>
    </message>
    <message>
        <source>Fit the sets</source>
        <translation>セット全体を表示</translation>
    </message>
    <message>
        <source>Keep the image&apos;s aspect</source>
        <translation>画像の縦横比を保つ</translation>
    </message>
    <message>
        <source>Image size follows the display</source>
        <translation>画像サイズを表示領域に合わせる</translation>
    </message>
    <message>
        <source>Set %1: %2 of %3 files read</source>
        <translation>セット %1: %3 ファイル中 %2 ファイルを読み込み済み</translation>
    </message>
    <message>
        <source>Set %1: %2 of %3 files read, about %4 s left</source>
        <translation>セット %1: %3 ファイル中 %2 ファイルを読み込み済み、残り約 %4 秒</translation>
    </message>
    <message>
        <source>Set %1: nothing loaded</source>
        <translation>セット %1: 何も読み込まれませんでした</translation>
    </message>
    <message>
        <source>Set %1: nothing loaded; %2</source>
        <translation>セット %1: 何も読み込まれませんでした。%2</translation>
    </message>
    <message>
        <source>Set %1: %2 HU at column %3, row %4, slice %5</source>
        <translation>セット %1: %2 HU（列 %3、行 %4、スライス %5）</translation>
    </message>
    <message>
        <source>Set %1: %2 at column %3, row %4, slice %5</source>
        <translation>セット %1: %2（列 %3、行 %4、スライス %5）</translation>
    </message>
</context>
<context>
    <name>LoadSlices</name>
    <message>
        <source>Load Slices</source>
        <translation>Load Slices</translation>
    </message>
    <message>
        <source>Select</source>
        <translation>選択</translation>
    </message>
</context>
<context>
    <name>SlicesCtrl</name>
    <message>
        <source> :</source>
        <translation> :</translation>
    </message>
    <message>
        <source>%1 flat</source>
        <translation>平坦 %1</translation>
    </message>
    <message>
        <source>%1 of %2 files loaded</source>
        <translation>%2 ファイル中 %1 ファイルを読み込み</translation>
    </message>
    <message>
        <source>%1 of another size</source>
        <translation>サイズ違い %1</translation>
    </message>
    <message>
        <source>%]</source>
        <translation>%]</translation>
    </message>
    <message>
        <source>0.0</source>
        <translation>0.0</translation>
    </message>
    <message>
        <source>100.0</source>
        <translation>100.0</translation>
    </message>
    <message>
        <source>Any Files (* *.*)</source>
        <translation>Any Files (* *.*)</translation>
    </message>
    <message>
        <source>Color Scale: </source>
        <translation>色スケール</translation>
    </message>
    <message>
        <source>Cross Section</source>
        <translation>断面位置</translation>
    </message>
    <message>
        <source>Data Files (*.dat *.png)</source>
        <translation>Data Files (*.dat *.png)</translation>
    </message>
    <message>
        <source>Fix Dir.</source>
        <translation>断面方向固定</translation>
    </message>
    <message>
        <source>Load Slices</source>
        <translation>Load Slices</translation>
    </message>
    <message>
        <source>S Color</source>
        <translation>断面色</translation>
    </message>
    <message>
        <source>Scanner Files (*.dcm *.dicom *.ima *.tif *.tiff *.webp *.nii *.nii.gz *.hdr *.nrrd *.nhdr *.mha *.mhd)</source>
        <translation>スキャナファイル (*.dcm *.dicom *.ima *.tif *.tiff *.webp *.nii *.nii.gz *.hdr *.nrrd *.nhdr *.mha *.mhd)</translation>
    </message>
    <message>
        <source>Select</source>
        <translation>選択</translation>
    </message>
    <message>
        <source>Show</source>
        <translation>設定表示</translation>
    </message>
    <message>
        <source>Show C. Section</source>
        <translation>断面表示</translation>
    </message>
    <message>
        <source>Show Frame</source>
        <translation>枠表示</translation>
    </message>
    <message>
        <source>Show Setup %1</source>
        <translation>設定%1表示</translation>
    </message>
    <message>
        <source>Show Volume</source>
        <translation>体積表示</translation>
    </message>
    <message>
        <source>V Color</source>
        <translation>体積色</translation>
    </message>
    <message>
        <source>[</source>
        <translation>[</translation>
    </message>
    <message>
        <source>max</source>
        <translation>最大値</translation>
    </message>
    <message>
        <source>min</source>
        <translation>最小値</translation>
    </message>
    <message>
        <source>%1 beyond the memory budget</source>
        <translation>メモリ上限超過 %1</translation>
    </message>
    <message>
        <source>Spacing...</source>
        <translation>間隔設定...</translation>
    </message>
    <message>
        <source>Sampling</source>
        <translation>サンプリング</translation>
    </message>
    <message>
        <source>Automatic</source>
        <translation>自動</translation>
    </message>
    <message>
        <source>Slice planes</source>
        <translation>スライス面</translation>
    </message>
    <message>
        <source>Cells</source>
        <translation>セル</translation>
    </message>
    <message>
        <source>Spacing</source>
        <translation>間隔</translation>
    </message>
    <message>
        <source>%1 slices from %2 of %3 files loaded</source>
        <translation>%3 ファイル中 %2 ファイルから %1 スライスを読み込み</translation>
    </message>
    <message>
        <source>Choose a Series</source>
        <translation>シリーズ選択</translation>
    </message>
    <message>
        <source>The files hold several DICOM series; load which?</source>
        <translation>複数の DICOM シリーズがあります。どれを読み込みますか?</translation>
    </message>
    <message>
        <source>Series</source>
        <translation>シリーズ</translation>
    </message>
    <message>
        <source>Modality</source>
        <translation>モダリティ</translation>
    </message>
    <message>
        <source>Images</source>
        <translation>画像数</translation>
    </message>
    <message>
        <source>Size</source>
        <translation>サイズ</translation>
    </message>
    <message>
        <source>Spacing (mm)</source>
        <translation>間隔 (mm)</translation>
    </message>
    <message>
        <source>Column spacing (mm)</source>
        <translation>列の間隔 (mm)</translation>
    </message>
    <message>
        <source>Row spacing (mm)</source>
        <translation>行の間隔 (mm)</translation>
    </message>
    <message>
        <source>Slice spacing (mm)</source>
        <translation>スライスの間隔 (mm)</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>キャンセル</translation>
    </message>
    <message>
        <source>Reset</source>
        <translation>リセット</translation>
    </message>
    <message>
        <source>%1 x %2 x %3 mm</source>
        <translation>間隔 %1 x %2 x %3 mm</translation>
    </message>
    <message>
        <source>%1 x %2 mm</source>
        <translation>間隔 %1 x %2 mm</translation>
    </message>
    <message>
        <source>Whole range</source>
        <translation>全範囲</translation>
    </message>
    <message>
        <source>Brain</source>
        <translation>脳</translation>
    </message>
    <message>
        <source>Soft tissue</source>
        <translation>軟部組織</translation>
    </message>
    <message>
        <source>Lung</source>
        <translation>肺</translation>
    </message>
    <message>
        <source>Bone</source>
        <translation>骨</translation>
    </message>
    <message>
        <source>%1 not slice files</source>
        <translation>スライスファイルでない %1</translation>
    </message>
    <message>
        <source>%1 unsupported (%2)</source>
        <translation>未対応 %1 (%2)</translation>
    </message>
    <message>
        <source>%1 damaged or unreadable</source>
        <translation>破損または読めない %1</translation>
    </message>
</context>
</TS>
