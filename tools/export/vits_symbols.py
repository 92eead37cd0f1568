"""The symbol table of the public VITS training text: 178 entries, the pad "_"
first, then punctuation and space (id 16), the Latin letters and the IPA
letters. The apostrophe appears twice (174 and 176); text maps it to 176, the
later entry, as the training code's lookup table does."""

_PAD = "_"
_PUNCTUATION = ';:,.!?¡¿—…"«»“” '
_LETTERS = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
_LETTERS_IPA = ("ɑɐɒæɓʙβɔɕçɗɖðʤəɘɚɛɜɝɞɟʄɡɠɢʛɦɧħɥʜɨɪʝɭɬɫɮʟɱɯɰŋɳɲɴøɵɸθœɶʘɹɺɾɻʀʁɽʂʃʈʧʉʊʋⱱʌɣɤʍχʎʏʑʐʒ"
                "ʔʡʕʢǀǁǂǃˈˌːˑʼʴʰʱʲʷˠˤ˞↓↑→↗↘'̩'ᵻ")
SYMBOLS = [_PAD] + list(_PUNCTUATION) + list(_LETTERS) + list(_LETTERS_IPA)


def symbol_ids(symbols):
    """symbol -> [ids], the id text uses first: the last entry of a repeated symbol."""
    table = {}
    for i, symbol in enumerate(symbols):
        table.setdefault(symbol, []).insert(0, i)
    return table
