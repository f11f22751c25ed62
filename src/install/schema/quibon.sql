-- Base de dados Quibon em SQLite: as tabelas e colunas que o utilitário das taxas de IVA usa,
-- com os tipos que têm no SQL Server da aplicação (os preços são decimais com o IVA incluído).
-- A Quibon tem meias doses (precomeia, pvpmeia2 a pvpmeia5), quatro níveis de preço (pvp2 a
-- pvp5), taxas adicionais (iva2, ivarevenda), as taxas apagadas em iva_apagar e as taxas por
-- omissão de cada posto em configpostos.

CREATE TABLE iva (
    id        INTEGER,
    codigo    INTEGER NOT NULL,
    factor    INTEGER NOT NULL,
    descricao VARCHAR(50)
);

CREATE TABLE iva_apagar (
    codigo INTEGER NOT NULL
);

CREATE TABLE produtos (
    id          INTEGER,
    codigo      VARCHAR(20) NOT NULL PRIMARY KEY,
    descricao   VARCHAR(60) NOT NULL DEFAULT '',
    familia     VARCHAR(30),
    unidade     VARCHAR(5),
    iva         INTEGER,
    iva2        INTEGER,
    ivarevenda  INTEGER,
    ivacompra   INTEGER,
    precovenda  DECIMAL(18, 4) NOT NULL DEFAULT 0,
    precomeia   DECIMAL(18, 4) NOT NULL DEFAULT 0,
    pvp2        DECIMAL(18, 4),
    pvp3        DECIMAL(18, 4),
    pvp4        DECIMAL(18, 4),
    pvp5        DECIMAL(18, 4),
    pvpmeia2    DECIMAL(18, 4),
    pvpmeia3    DECIMAL(18, 4),
    pvpmeia4    DECIMAL(18, 4),
    pvpmeia5    DECIMAL(18, 4),
    precocompra DECIMAL(18, 4) NOT NULL DEFAULT 0
);

CREATE TABLE configuracao (
    empresa       VARCHAR(60),
    contribuinte  VARCHAR(9),
    morada        VARCHAR(60),
    casasdecimais INTEGER,
    ivaincluido   INTEGER
);

CREATE TABLE configpostos (
    posto INTEGER NOT NULL DEFAULT 1,
    chave VARCHAR(40) NOT NULL,
    valor VARCHAR(40)
);

-- dados de exemplo

INSERT INTO iva (id, codigo, factor, descricao) VALUES
    (1, 0, 0, 'Isento'),
    (2, 6, 6, 'Taxa reduzida'),
    (3, 13, 13, 'Taxa intermédia'),
    (4, 23, 23, 'Taxa normal');

INSERT INTO configuracao (empresa, contribuinte, morada, casasdecimais, ivaincluido)
VALUES ('Restaurante O Lagar, Lda.', '504567890', 'Largo do Município, 5, Évora', 2, 1);

INSERT INTO configpostos (posto, chave, valor) VALUES
    (1, 'IVA POR DEFEITO', '23'),
    (1, 'IVA NO CONSUMO MINIMO', '13'),
    (1, 'IVA AO BALCAO', '23'),
    (1, 'IMPRESSORA', 'COM1'),
    (2, 'IVA POR DEFEITO', '13'),
    (2, 'IVA NO CONSUMO MINIMO', '13'),
    (2, 'IVA AO BALCAO', '6'),
    (2, 'IMPRESSORA', 'COM2');

-- @catalogo: os artigos de exemplo e as suas variantes (catalogo.sql), na tabela base.

-- Um produto em cada 7 não tem taxa adicional (iva2 vazio), como os que vêm de versões antigas.
INSERT INTO produtos (id, codigo, descricao, familia, unidade, iva, iva2, ivarevenda, ivacompra,
                      precovenda, precomeia, pvp2, pvp3, pvp4, pvp5, pvpmeia2, pvpmeia3, pvpmeia4,
                      pvpmeia5, precocompra)
SELECT num, printf('Q%05d', num), descricao, familia, unidade, taxa,
       CASE WHEN num % 7 = 0 THEN NULL ELSE taxa END, taxa, taxacompra,
       preco, ROUND(preco * 0.6, 2), ROUND(preco * 0.95, 2), ROUND(preco * 0.9, 2),
       ROUND(preco * 0.85, 2), ROUND(preco * 0.8, 2), ROUND(preco * 0.6 * 0.95, 2),
       ROUND(preco * 0.6 * 0.9, 2), ROUND(preco * 0.6 * 0.85, 2), ROUND(preco * 0.6 * 0.8, 2),
       ROUND(preco * 0.65, 2)
FROM base ORDER BY num;

DROP TABLE base;
DROP TABLE variantes;
DROP TABLE artigos;
