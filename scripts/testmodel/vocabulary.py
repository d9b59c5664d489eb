"""The closed vocabularies the synthetic corpus is spoken from: numbers, days, colours, common nouns,
verbs and a few adjectives, all lower case and without apostrophes (each word is one pre-token)."""

ENGLISH = """
zero one two three four five six seven eight nine ten eleven twelve thirteen fourteen fifteen
sixteen seventeen eighteen nineteen twenty thirty forty fifty sixty hundred thousand
monday tuesday wednesday thursday friday saturday sunday today tomorrow morning evening night
red green blue yellow black white orange purple brown grey pink silver golden
house table window door chair garden river city street car train bus ship plane road bridge
book letter paper pencil phone computer music picture song story name word
apple bread water coffee milk cheese fish soup sugar salt tea
dog cat horse bird mouse cow
mother father brother sister friend teacher doctor child people family
week month year hour minute second
open close read write take give bring find keep start stop turn call
play sing speak listen watch look walk run jump swim drive sleep eat drink cook buy sell
send wait help learn teach build move carry
big small old new long short warm cold quick slow happy quiet
""".split()

RUSSIAN = """
ноль один два три четыре пять шесть семь восемь девять десять одиннадцать двенадцать
пятнадцать двадцать тридцать сорок пятьдесят сто тысяча
понедельник вторник среда четверг пятница суббота воскресенье сегодня завтра вчера утро вечер ночь
красный зелёный синий жёлтый чёрный белый оранжевый серый розовый коричневый голубой
дом стол окно дверь стул сад река город улица машина поезд автобус корабль самолёт дорога мост
книга письмо бумага карандаш телефон компьютер музыка картина песня история слово
яблоко хлеб вода кофе молоко сыр рыба суп сахар соль чай
собака кошка лошадь птица мышь корова
мама папа брат сестра друг учитель врач ребёнок люди семья
неделя месяц год час минута
открыть закрыть читать писать взять дать найти держать начать звонить
играть петь говорить слушать смотреть гулять бежать прыгать плавать ехать спать есть пить
покупать продавать ждать помогать учить строить нести
большой маленький старый новый длинный короткий тёплый холодный быстрый медленный весёлый тихий
""".split()

WORDS = {"en": ENGLISH, "ru": RUSSIAN}

# espeak-ng voices and variants per language; the corpus draws one of each per utterance.
VOICES = {
    "en": ["en-us", "en-gb", "en-gb-x-rp", "en-gb-scotland", "en-gb-x-gbclan", "en-029"],
    "ru": ["ru", "ru-lv"],
}
VARIANTS = ["", "m1", "m2", "m3", "m4", "m5", "m6", "m7", "f1", "f2", "f3", "f4", "f5",
            "klatt", "klatt2", "klatt3", "adam", "john", "steph", "linda", "andy", "grandma"]

assert len(set(ENGLISH)) == len(ENGLISH), "duplicate English word"
assert len(set(RUSSIAN)) == len(RUSSIAN), "duplicate Russian word"
